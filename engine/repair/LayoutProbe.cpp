#include "repair/LayoutProbe.h"

#include "avi/CameraLayout.h"
#include "avi/FourCC.h"
#include "avi/LittleEndian.h"

#include <algorithm>
#include <array>
#include <vector>

namespace clipwright {

namespace {

std::optional<FourCC> WordAt(ByteSource& file, uint64_t position) {
    std::array<uint8_t, 4> bytes{};
    if (file.ReadAt(position, bytes.data(), bytes.size()) < bytes.size())
        return std::nullopt;
    return FourCC::FromBytes(bytes.data());
}

// The first '0','0','d' run in the file, read through a fixed window; the camera's header block is
// 4096 bytes at most, but a header lost with more than that is searched on through the file.
std::optional<uint64_t> FirstVideoTag(ByteSource& file) {
    static constexpr std::array<uint8_t, 3> kTag = {'0', '0', 'd'};
    std::array<uint8_t, 4096> window{};
    for (uint64_t position = 0;;) {
        const size_t got = file.ReadAt(position, window.data(), window.size());
        const auto end = window.begin() + static_cast<ptrdiff_t>(got);
        const auto found = std::search(window.begin(), end, kTag.begin(), kTag.end());
        if (found != end)
            return position + static_cast<uint64_t>(found - window.begin());
        if (got < window.size())
            return std::nullopt;
        // Windows overlap by two bytes so that a tag across their border is seen.
        position += got - (kTag.size() - 1);
    }
}

} // namespace

const char* LayoutName(LayoutCode layout) {
    switch (layout) {
    case LayoutStandard:
        return "standard";
    case LayoutShifted:
        return "shifted";
    case LayoutHeaderLost:
        return "header lost";
    case LayoutOther:
        break;
    }
    return "other";
}

LayoutCode ProbeLayoutOf(ByteSource& file) {
    if (WordAt(file, layout::kMoviList) == fourcc::kList)
        return WordAt(file, layout::kMoviBase) == fourcc::kMovi ? LayoutStandard : LayoutOther;
    return WordAt(file, layout::kShiftedMoviList) == fourcc::kList ? LayoutShifted : LayoutHeaderLost;
}

uint64_t RebuildDataStart(ByteSource& file, LayoutCode layout) {
    if (layout != LayoutHeaderLost)
        return layout::kMoviList;
    return FirstVideoTag(file).value_or(0);
}

uint64_t FirstChunkLeadingTo(ByteSource& file, uint64_t start) {
    constexpr uint64_t kLookBack = 64 * 1024;
    const uint64_t from = start - std::min(start, kLookBack);
    std::vector<uint8_t> window(static_cast<size_t>(start - from));
    window.resize(file.ReadAt(from, window.data(), window.size()));
    auto isMediaId = [&](size_t at) {
        if (at + 8 > window.size())
            return false;
        const FourCC id = FourCC::FromBytes(window.data() + at);
        return id == fourcc::kAudio01wb || id == fourcc::kVideo00dc || id == fourcc::kVideo00db;
    };
    for (size_t candidate = 0; candidate < window.size(); ++candidate) {
        size_t at = candidate;
        while (isMediaId(at)) {
            const uint64_t size = le::ReadU32(window.data() + at + 4);
            at += static_cast<size_t>(std::min<uint64_t>(8 + size + (size & 1), window.size() + 1));
        }
        if (at == window.size() && at != candidate)
            return from + candidate;
    }
    return start;
}

} // namespace clipwright
