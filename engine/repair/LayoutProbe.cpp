#include "repair/LayoutProbe.h"

#include "avi/CameraLayout.h"
#include "avi/FourCC.h"

#include <algorithm>
#include <array>

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

} // namespace clipwright
