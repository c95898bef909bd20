#include "CliHost.h"

#include "text/EventText.h"

#include <cmath>
#include <cstdio>
#include <ostream>

namespace clipwright::cli {

CliHost::CliHost(std::ostream& errors, std::optional<ImageSettings> answer)
    : errors_(errors), answer_(answer) {}

void CliHost::Report(const EngineEvent& event) {
    if (!IsFinding(event.code))
        Print(PlainEventText(event), event.path);
}

void CliHost::Print(const std::string& text, const std::string& filePath) {
    EndProgress();
    errors_ << kProgramName << ": ";
    if (!filePath.empty())
        errors_ << filePath << ": ";
    errors_ << text << '\n';
    errors_.flush();
}

namespace {

std::string Describe(const ImageSettings& settings) {
    const char* size = settings.resolution == kResolutionQvga    ? "320x240"
                       : settings.resolution == kResolutionQqvga ? "160x112"
                                                                 : "640x480";
    return std::string(size) + ", " + std::to_string(settings.framesPerSecond) + " fps";
}

} // namespace

std::optional<ImageSettings> CliHost::AskImageSettings(const std::optional<ImageSettings>& readFromVideo) {
    // A rate given alone answers only where the video gives the frame size; here it did not.
    if (answer_ && answer_->resolution != kResolutionUnknown) {
        WarnIfVideoDiffers(readFromVideo, *answer_);
        return answer_;
    }
    if (readFromVideo) {
        Print("frame size and rate read from the video: " + Describe(*readFromVideo), path_);
        return readFromVideo;
    }
    settingsMissing_ = true;
    return std::nullopt;
}

void CliHost::SettingsReadWhileCopying(const std::optional<ImageSettings>& readFromVideo,
                                       const ImageSettings& used) {
    WarnIfVideoDiffers(readFromVideo, used);
}

void CliHost::WarnIfVideoDiffers(const std::optional<ImageSettings>& readFromVideo,
                                 const ImageSettings& used) {
    if (readFromVideo && (readFromVideo->resolution != used.resolution ||
                          readFromVideo->framesPerSecond != used.framesPerSecond))
        Print("warning: the video says " + Describe(*readFromVideo) + ", but the repair uses " +
                  Describe(used) + " as given",
              path_);
}

void CliHost::ShowProgress(bool /*visible*/) {}

void CliHost::Progress(const ProgressReport& report) {
    if (!progressShown_)
        return;
    using Clock = std::chrono::steady_clock;
    constexpr auto kLineInterval = std::chrono::milliseconds(200);
    const Clock::time_point now = Clock::now();
    if (report.phase != phase_) {
        phase_ = report.phase;
        phaseStart_ = now;
    } else if (now - lastLine_ < kLineInterval && report.done < report.total) {
        return;
    }
    lastLine_ = now;
    const double seconds = std::chrono::duration<double>(now - phaseStart_).count();
    const double percent = report.total == 0
                               ? 100.0
                               : 100.0 * static_cast<double>(report.done) / static_cast<double>(report.total);
    char line[160];
    const char* doing = report.phase == ProgressPhase::Reading ? "reading" : "writing";
    int length = std::snprintf(line, sizeof line, "%s %3.0f%%", doing, percent);
    // The rate and the time left only once the phase has run long enough for them to mean anything.
    if (seconds >= 1.0 && report.done > 0 && report.done < report.total) {
        const double rate = static_cast<double>(report.done) / seconds;
        const double left = static_cast<double>(report.total - report.done) / rate;
        std::snprintf(line + length, sizeof line - static_cast<size_t>(length), ", %.1f MB/s, %.0f s left",
                      rate / 1e6, std::ceil(left));
    }
    errors_ << '\r' << kProgramName << ": " << path_ << ": " << line << "\x1b[K";
    errors_.flush();
    lineStands_ = true;
}

void CliHost::EndProgress() {
    if (!lineStands_)
        return;
    errors_ << "\r\x1b[K";
    errors_.flush();
    lineStands_ = false;
    phase_.reset();
}

} // namespace clipwright::cli
