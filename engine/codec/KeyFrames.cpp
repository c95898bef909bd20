#include "codec/KeyFrames.h"

#include "codec/H264Headers.h"
#include "codec/Mpeg4Headers.h"
#include "codec/PictureTypes.h"

#include <algorithm>

namespace clipwright::codec {

namespace {

// A frame with no start code at all is not one we can read: it is not judged a delta frame.
// Start codes are looked for one after another, never to the end of a unit: behind the VOP's
// start code lies the picture, where a search would cost more than the rest of a repair.
bool StartsWithIntraVop(std::span<const uint8_t> frame) {
    std::optional<size_t> at = FindStartCode(frame, 0);
    if (!at || *at + 4 > frame.size())
        return true;
    for (; at && *at + 4 <= frame.size(); at = FindStartCode(frame, *at + 4)) {
        if (frame[*at + 3] != kMpeg4Vop)
            continue;
        const size_t body = *at + 4;
        // A start code right behind it leaves the VOP without a header to read.
        const bool empty = body == frame.size() ||
                           FindStartCode(frame.first(std::min(frame.size(), body + 3)), body) == body;
        return !empty && (frame[body] >> 6) == static_cast<uint8_t>(VopCodingType::Intra);
    }
    return false;
}

// Decided at the first slice: what comes before it (parameter sets, SEI) says whether it starts
// a picture a decoder can begin at.
// A frame without start codes (length-prefixed NAL units) is not judged a delta frame either.
bool StartsRandomAccessPoint(std::span<const uint8_t> frame) {
    auto nal = NextNalUnit(frame, 0);
    if (!nal)
        return true;
    for (; nal; nal = NextNalUnit(frame, nal->End())) {
        const uint8_t type = nal->Type();
        if (IsIdrSlice(type))
            return true;
        if (type == kH264NonIdrSlice)
            return false;
        if (type == kH264Sei && SeiRecoveryFrameCount(RemoveEmulationPrevention(nal->bytes.subspan(1))))
            return true;
    }
    return false;
}

// The readers of codecs whose picture header opens the frame: their answer from any bytes.
std::optional<bool> PictureHeaderSays(VideoCoding coding, std::span<const uint8_t> frameStart) {
    switch (coding) {
    case VideoCoding::Hevc:
        return HevcIrapPicture(frameStart);
    case VideoCoding::Mpeg12:
        return Mpeg12IntraPicture(frameStart);
    case VideoCoding::H263:
        return H263IntraPicture(frameStart);
    case VideoCoding::MsMpeg4v1:
        return MsMpeg4v1IntraPicture(frameStart);
    case VideoCoding::MsMpeg4:
        return MsMpeg4IntraPicture(frameStart);
    case VideoCoding::Wmv2:
        return Wmv2IntraPicture(frameStart);
    case VideoCoding::Ffv1:
        return Ffv1KeyFrame(frameStart);
    case VideoCoding::Vp8:
        return Vp8KeyFrame(frameStart);
    case VideoCoding::Vp9:
        return Vp9KeyFrame(frameStart);
    case VideoCoding::Mpeg4Visual:
    case VideoCoding::H264:
    case VideoCoding::Intra:
    case VideoCoding::Unread:
        break;
    }
    return std::nullopt;
}

} // namespace

std::optional<bool> KeyFrameSettledBy(VideoCoding coding, std::span<const uint8_t> frameStart) {
    switch (coding) {
    case VideoCoding::Intra:
        return true;
    case VideoCoding::Unread:
    case VideoCoding::H264:
        return std::nullopt;
    case VideoCoding::Mpeg4Visual: {
        // The start codes up to a VOP whose header and the three bytes behind it are inside are the
        // ones the whole probe holds: the answer is the same.
        constexpr size_t kVopHeaderAndBehind = 8;
        for (auto at = FindStartCode(frameStart, 0); at && *at + kVopHeaderAndBehind <= frameStart.size();
             at = FindStartCode(frameStart, *at + 4))
            if (frameStart[*at + 3] == kMpeg4Vop)
                return StartsWithIntraVop(frameStart);
        return std::nullopt;
    }
    default:
        return PictureHeaderSays(coding, frameStart);
    }
}

bool IsKeyFrame(VideoCoding coding, std::span<const uint8_t> frameStart) {
    switch (coding) {
    case VideoCoding::Mpeg4Visual:
        return StartsWithIntraVop(frameStart);
    case VideoCoding::H264:
        return StartsRandomAccessPoint(frameStart);
    case VideoCoding::Intra:
        return true;
    case VideoCoding::Unread:
        return false;
    case VideoCoding::Hevc:
        // Without start codes (length-prefixed NAL units), as for H.264: not judged a delta frame.
        if (const std::optional<bool> said = HevcIrapPicture(frameStart))
            return *said;
        return !NextNalUnit(frameStart, 0).has_value();
    default:
        // A frame whose header does not read as its codec's is not one to start at.
        return PictureHeaderSays(coding, frameStart).value_or(false);
    }
}

} // namespace clipwright::codec
