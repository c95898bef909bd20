#include "JobHost.h"

#include "JobReply.h"
#include "RepairJob.h"

#include <QString>

namespace clipwright::ui {

void JobHost::ShowMessage(const std::string& text, const std::string& filePath) {
    if (stop_.stop_requested())
        return;
    const JobQuestion<Done> question;
    emit job_.messageRequested(QString::fromStdString(text), QString::fromStdString(filePath),
                               question.Reply());
    question.Wait(stop_);
}

std::optional<ImageSettings> JobHost::AskImageSettings() {
    if (stop_.stop_requested())
        return std::nullopt;
    const JobQuestion<ImageSettings> question;
    emit job_.imageSettingsRequested(question.Reply());
    return question.Wait(stop_);
}

void JobHost::ShowProgress(bool visible) {
    if (stop_.stop_requested())
        return;
    const JobQuestion<Done> question;
    emit job_.progressVisibilityRequested(visible, question.Reply());
    question.Wait(stop_);
}

} // namespace clipwright::ui
