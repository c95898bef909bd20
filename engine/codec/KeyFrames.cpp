#include "codec/KeyFrames.h"

#include "codec/H264Headers.h"
#include "codec/Mpeg4Headers.h"

#include <algorithm>
#include <array>
#include <cctype>

namespace clipwright::codec {

namespace {

FourCC Uppercase(const FourCC& code) {
    std::array<uint8_t, 4> bytes = code.Bytes();
    for (uint8_t& byte : bytes)
        byte = static_cast<uint8_t>(std::toupper(byte));
    return FourCC::FromBytes(bytes.data());
}

bool IsOneOf(const FourCC& code, std::initializer_list<FourCC> codes) {
    return std::find(codes.begin(), codes.end(), Uppercase(code)) != codes.end();
}

std::optional<VideoCoding> CodingNamed(const FourCC& code) {
    if (IsOneOf(code, {"FMP4", "XVID", "DIVX", "DX50", "MP4V", "M4S2", "MP4S", "3IV2", "XVIX", "UMP4", "BLZ0",
                       "RMP4", "SEDG", "WV1F", "DXGM"}))
        return VideoCoding::Mpeg4Visual;
    if (IsOneOf(code, {"H264", "X264", "AVC1", "DAVC", "VSSH", "AVC "}))
        return VideoCoding::H264;
    return std::nullopt;
}

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

} // namespace

VideoCoding VideoCodingOf(const FourCC& compression, const FourCC& handler) {
    if (auto coding = CodingNamed(compression))
        return *coding;
    return CodingNamed(handler).value_or(VideoCoding::AllKey);
}

std::optional<bool> KeyFrameSettledBy(VideoCoding coding, std::span<const uint8_t> frameStart) {
    if (coding == VideoCoding::AllKey)
        return true;
    if (coding != VideoCoding::Mpeg4Visual)
        return std::nullopt;
    // The start codes up to a VOP whose header and the three bytes behind it are inside are the
    // ones the whole probe holds: the answer is the same.
    constexpr size_t kVopHeaderAndBehind = 8;
    for (auto at = FindStartCode(frameStart, 0); at && *at + kVopHeaderAndBehind <= frameStart.size();
         at = FindStartCode(frameStart, *at + 4))
        if (frameStart[*at + 3] == kMpeg4Vop)
            return StartsWithIntraVop(frameStart);
    return std::nullopt;
}

bool IsKeyFrame(VideoCoding coding, std::span<const uint8_t> frameStart) {
    switch (coding) {
    case VideoCoding::Mpeg4Visual:
        return StartsWithIntraVop(frameStart);
    case VideoCoding::H264:
        return StartsRandomAccessPoint(frameStart);
    case VideoCoding::AllKey:
        break;
    }
    return true;
}

} // namespace clipwright::codec
