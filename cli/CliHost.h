// The command-line tool's side of the engine: messages go to standard error, and the image
// settings prompt is answered from --resolution and --fps.
#pragma once

#include "repair/FixerHost.h"
#include "repair/ImageSettings.h"

#include <iosfwd>
#include <optional>

namespace clipwright::cli {

class CliHost : public FixerHost {
public:
    CliHost(std::ostream& errors, std::optional<ImageSettings> answer);

    void ShowMessage(const std::string& text, const std::string& filePath) override;
    std::optional<ImageSettings> AskImageSettings() override;
    void ShowProgress(bool visible) override;

    // True when the last job needed the prompt and no answer was given on the command line.
    bool SettingsWereMissing() const { return settingsMissing_; }
    void StartJob() { settingsMissing_ = false; }

private:
    std::ostream& errors_;
    std::optional<ImageSettings> answer_;
    bool settingsMissing_ = false;
};

} // namespace clipwright::cli
