#include "CliHost.h"

#include <ostream>

namespace clipwright::cli {

CliHost::CliHost(std::ostream& errors, std::optional<ImageSettings> answer)
    : errors_(errors), answer_(answer) {}

void CliHost::ShowMessage(const std::string& text, const std::string& filePath) {
    if (filePath.empty())
        errors_ << text << '\n';
    else
        errors_ << filePath << ": " << text << '\n';
    errors_.flush();
}

std::optional<ImageSettings> CliHost::AskImageSettings() {
    if (!answer_)
        settingsMissing_ = true;
    return answer_;
}

void CliHost::ShowProgress(bool /*visible*/) {}

} // namespace clipwright::cli
