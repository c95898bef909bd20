#include "JobHost.h"

#include "JobReply.h"
#include "RepairJob.h"

#include <QString>

namespace clipwright::ui {

void JobHost::ShowMessage(const std::string& text, const std::string& filePath) {
    if (stop_.stop_requested())
        return;
    const JobQuestion<Done> question;
    job_.Post([&job = job_, text, filePath, reply = question.Reply()] {
        emit job.messageRequested(QString::fromStdString(text), QString::fromStdString(filePath), reply);
    });
    question.Wait(stop_);
}

void JobHost::ShowFindings(const std::string& text, const std::string& filePath) {
    if (stop_.stop_requested())
        return;
    const JobQuestion<Done> question;
    job_.Post([&job = job_, text, filePath, reply = question.Reply()] {
        emit job.findingsShown(QString::fromStdString(text), QString::fromStdString(filePath), reply);
    });
    question.Wait(stop_);
}

std::optional<ImageSettings> JobHost::AskImageSettings(const std::optional<ImageSettings>& readFromVideo) {
    if (stop_.stop_requested())
        return std::nullopt;
    const JobQuestion<ImageSettings> question;
    job_.Post([&job = job_, readFromVideo, reply = question.Reply()] {
        emit job.imageSettingsRequested(readFromVideo, reply);
    });
    return question.Wait(stop_);
}

void JobHost::ShowProgress(bool visible) {
    if (stop_.stop_requested())
        return;
    const JobQuestion<Done> question;
    job_.Post([&job = job_, visible, reply = question.Reply()] {
        emit job.progressVisibilityRequested(visible, reply);
    });
    question.Wait(stop_);
}

} // namespace clipwright::ui
