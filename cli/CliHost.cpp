#include "CliHost.h"

#include <ostream>

namespace clipwright::cli {

CliHost::CliHost(std::ostream& errors, std::optional<ImageSettingsAnswer> answer)
    : errors_(errors), answer_(answer) {}

void CliHost::ShowMessage(const std::string& text, const std::string& filePath) {
    if (filePath.empty())
        errors_ << text << '\n';
    else
        errors_ << filePath << ": " << text << '\n';
    errors_.flush();
}

bool CliHost::AskImageSettings() {
    if (!answer_) {
        settingsMissing_ = true;
        return false;
    }
    g_resolutionChoice = answer_->resolution;
    g_frameRateChoice = answer_->framesPerSecond;
    return true;
}

void CliHost::ShowProgress(bool /*visible*/) {}

} // namespace clipwright::cli
