// The frame rate an MPEG-4 Visual stream's VOP headers keep to, from the steps between their
// times: what is left when an encoder does not declare a fixed rate in the VOL.
#pragma once

#include "Mpeg4Headers.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace clipwright::codec {

class VopRateMeter {
public:
    // Takes every VOL, GOV and VOP header of `bytes` (a frame, or any run of a stream) in order.
    void Feed(std::span<const uint8_t> bytes);

    // The latest VOL, which the VOP headers are read against.
    const std::optional<Mpeg4Vol>& Vol() const { return vol_; }
    // Frames per second over the median step between distinct VOP times; nothing before
    // kMinimumSteps steps were seen.
    std::optional<double> Rate() const;

    static constexpr size_t kMinimumSteps = 2;

private:
    void OnVol(const Mpeg4Vol& vol);
    void OnGov(const Mpeg4Gov& gov);
    void OnVop(const Mpeg4Vop& vop);
    void CloseRun();

    std::optional<Mpeg4Vol> vol_;
    // Times in ticks of VOPs that share one clock. A VOL with another clock, or an I-, P- or S-VOP
    // earlier than the one before it (a stream that starts over), begins another run.
    std::vector<uint64_t> runTimes_;
    std::optional<uint64_t> anchorTime_; // of the latest I-, P- or S-VOP
    uint64_t timeBase_ = 0;              // seconds; of the latest I-, P- or S-VOP
    uint64_t previousTimeBase_ = 0;      // seconds; the one before, which B-VOPs count from
    std::vector<double> steps_;          // seconds between neighbouring distinct times
};

} // namespace clipwright::codec
