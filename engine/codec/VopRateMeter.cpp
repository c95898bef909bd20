#include "VopRateMeter.h"

#include <algorithm>

namespace clipwright::codec {

void VopRateMeter::Feed(std::span<const uint8_t> bytes) {
    for (auto unit = NextStartCodeUnit(bytes, 0); unit; unit = NextStartCodeUnit(bytes, unit->End())) {
        if (IsMpeg4Vol(unit->code)) {
            if (std::optional<Mpeg4Vol> vol = ParseMpeg4Vol(unit->body))
                OnVol(*vol);
        } else if (unit->code == kMpeg4Gov) {
            if (std::optional<Mpeg4Gov> gov = ParseMpeg4Gov(unit->body))
                OnGov(*gov);
        } else if (unit->code == kMpeg4Vop && vol_) {
            if (std::optional<Mpeg4Vop> vop = ParseMpeg4Vop(unit->body, *vol_))
                OnVop(*vop);
        }
    }
}

void VopRateMeter::OnVol(const Mpeg4Vol& vol) {
    // Key frames repeat the VOL; only a new clock makes the times incomparable.
    if (!vol_ || vol_->timeIncrementResolution != vol.timeIncrementResolution) {
        CloseRun();
        timeBase_ = 0;
        previousTimeBase_ = 0;
    }
    vol_ = vol;
}

void VopRateMeter::OnGov(const Mpeg4Gov& gov) {
    // The time code is the time base the VOPs behind it count their seconds from.
    timeBase_ = gov.timeCodeSeconds;
    previousTimeBase_ = gov.timeCodeSeconds;
}

void VopRateMeter::OnVop(const Mpeg4Vop& vop) {
    uint64_t seconds = 0;
    if (vop.codingType == VopCodingType::Bidirectional) {
        seconds = previousTimeBase_ + vop.moduloTimeBase;
    } else {
        previousTimeBase_ = timeBase_;
        timeBase_ += vop.moduloTimeBase;
        seconds = timeBase_;
    }
    const uint64_t time = seconds * vol_->timeIncrementResolution + vop.timeIncrement;
    if (vop.codingType != VopCodingType::Bidirectional) {
        // I-, P- and S-VOPs come in display order: one earlier than the last means the stream
        // started over, or a time code did not match the VOPs.
        if (anchorTime_ && time < *anchorTime_)
            CloseRun();
        anchorTime_ = time;
    }
    runTimes_.push_back(time);
}

void VopRateMeter::CloseRun() {
    std::sort(runTimes_.begin(), runTimes_.end());
    // A repeated frame carries the time of the one it repeats.
    runTimes_.erase(std::unique(runTimes_.begin(), runTimes_.end()), runTimes_.end());
    for (size_t i = 1; i < runTimes_.size(); ++i)
        steps_.push_back(static_cast<double>(runTimes_[i] - runTimes_[i - 1]) /
                         static_cast<double>(vol_->timeIncrementResolution));
    runTimes_.clear();
    anchorTime_.reset();
}

std::optional<double> VopRateMeter::Rate() const {
    VopRateMeter closed = *this;
    closed.CloseRun();
    std::vector<double>& steps = closed.steps_;
    if (steps.size() < kMinimumSteps)
        return std::nullopt;
    // The median: frames the encoder dropped and a jittery clock move it least.
    auto middle = steps.begin() + static_cast<ptrdiff_t>(steps.size() / 2);
    std::nth_element(steps.begin(), middle, steps.end());
    if (*middle <= 0)
        return std::nullopt;
    return 1.0 / *middle;
}

} // namespace clipwright::codec
