#include "JobHost.h"

#include "JobReply.h"
#include "RepairJob.h"
#include "text/EventText.h"

#include <QString>

namespace clipwright::ui {

void JobHost::Report(const EngineEvent& event) {
    if (stop_.stop_requested())
        return;
    Show(EventText(event), event.path, IsFinding(event.code), event.folderRefused);
}

void JobHost::ShowProblem(const std::string& text, const std::string& filePath) {
    if (stop_.stop_requested())
        return;
    Show(text, filePath, false);
}

void JobHost::Show(const std::string& text, const std::string& filePath, bool finding, bool folderRefused) {
    const JobQuestion<Done> question;
    job_.Post([&job = job_, text, filePath, finding, folderRefused, reply = question.Reply()] {
        const QString shown = QString::fromStdString(text);
        const QString file = QString::fromStdString(filePath);
        if (finding)
            emit job.findingsShown(shown, file, reply);
        else if (folderRefused)
            emit job.folderRefused(shown, file, reply);
        else
            emit job.messageRequested(shown, file, reply);
    });
    question.Wait(stop_);
}

std::optional<ImageSettings> JobHost::AskImageSettings(const std::optional<ImageSettings>& readFromVideo) {
    chosenReference_.clear();
    if (stop_.stop_requested())
        return std::nullopt;
    const JobQuestion<SettingsAnswer> question;
    job_.Post([&job = job_, readFromVideo, reply = question.Reply()] {
        emit job.imageSettingsRequested(readFromVideo, reply);
    });
    std::optional<SettingsAnswer> answer = question.Wait(stop_);
    if (!answer)
        return std::nullopt;
    chosenReference_ = answer->referencePath;
    return answer->settings;
}

void JobHost::Progress(const ProgressReport& report) {
    if (stop_.stop_requested())
        return;
    job_.Post([&job = job_, report] { emit job.progressReported(report.phase, report.done, report.total); });
}

bool JobHost::StopRequested() {
    return stop_.stop_requested() || job_.cancelRequested.load();
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
