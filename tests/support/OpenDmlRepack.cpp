#include "OpenDmlRepack.h"

#include "avi/LittleEndian.h"

#include <algorithm>
#include <stdexcept>

namespace clipwright::test {

namespace {

constexpr uint32_t kSuperIndexSlots = 16;
constexpr uint32_t kDmlhBytes = 248; // as recorders write it, though only its first field is read
constexpr uint32_t kIdx1KeyFrame = 0x10;
constexpr uint32_t kDeltaFrame = 0x80000000;
constexpr uint32_t kInterleavedWithIndex = 0x910; // what a recorder that can seek puts in avih at once

struct Stream {
    Bytes list; // the strl body behind its type: strh first
    FourCC chunkId;
    size_t superIndex = 0; // of its chunk header in the repacked file
};

struct Chunk {
    FourCC id;
    size_t payload = 0; // in the source, then in the repacked file
    uint32_t size = 0;
    size_t stream = 0;
    bool key = true;
};

void AddU32(Bytes& out, uint64_t value) {
    out.resize(out.size() + 4);
    le::WriteU32(out.data() + out.size() - 4, static_cast<uint32_t>(value));
}

void AddId(Bytes& out, const FourCC& id) {
    out.insert(out.end(), id.Bytes().begin(), id.Bytes().end());
}

void SetU32(Bytes& out, size_t position, uint64_t value) {
    PutU32(out, position, static_cast<uint32_t>(value));
}

// Without an idx1: an MPEG-4 frame is a key frame when its VOP is intra coded; any other video counts
// every frame.
bool IsKeyFrame(const Bytes& avi, const Chunk& chunk) {
    static const uint8_t kVop[] = {0, 0, 1, 0xB6};
    const auto begin = avi.begin() + static_cast<ptrdiff_t>(chunk.payload);
    const auto end = begin + chunk.size;
    const auto vop = std::search(begin, end, std::begin(kVop), std::end(kVop));
    return end - vop < 5 || (vop[4] >> 6) == 0;
}

// The streams' lists and the movi list's complete chunks of a file of one RIFF form.
void ReadSource(const Bytes& avi, Bytes& mainHeader, std::vector<Stream>& streams,
                std::vector<Chunk>& chunks) {
    size_t idx1 = avi.size();
    for (size_t at = 12; at + 12 <= avi.size();) {
        const FourCC id = FourCCAt(avi, at);
        const uint32_t size = U32At(avi, at + 4);
        const FourCC type = FourCCAt(avi, at + 8);
        if (id == fourcc::kList && type == fourcc::kHdrl) {
            at += 12;
            continue;
        }
        if (id == fourcc::kAvih)
            mainHeader.assign(avi.begin() + static_cast<ptrdiff_t>(at + 8),
                              avi.begin() + static_cast<ptrdiff_t>(at + 8 + size));
        if (id == fourcc::kList && type == fourcc::kStrl)
            streams.emplace_back().list.assign(avi.begin() + static_cast<ptrdiff_t>(at + 12),
                                               avi.begin() + static_cast<ptrdiff_t>(at + 8 + size));
        if (id == fourcc::kList && type == fourcc::kMovi) {
            const uint64_t end = std::min<uint64_t>(at + 8 + uint64_t{size}, avi.size());
            idx1 = end + (end & 1);
            for (size_t chunk = at + 12; chunk + 8 <= end;) {
                const Chunk found{FourCCAt(avi, chunk), chunk + 8, U32At(avi, chunk + 4)};
                if (found.payload + found.size > avi.size())
                    break;
                chunks.push_back(found);
                chunk = found.payload + found.size + (found.size & 1);
            }
            break;
        }
        at += 8 + size + (size & 1);
    }
    // A finalised source's idx1 behind its movi list lists every chunk with its writer's key flag.
    const bool indexed = idx1 + 8 <= avi.size() && FourCCAt(avi, idx1) == fourcc::kIdx1 &&
                         U32At(avi, idx1 + 4) == chunks.size() * 16 &&
                         idx1 + 8 + chunks.size() * 16 <= avi.size();
    for (size_t number = 0; number < chunks.size(); ++number) {
        Chunk& chunk = chunks[number];
        chunk.stream = static_cast<size_t>((chunk.id.Bytes()[0] - '0') * 10 + (chunk.id.Bytes()[1] - '0'));
        if (chunk.stream >= streams.size())
            throw std::runtime_error("a chunk of no stream in the file to repack");
        if (streams[chunk.stream].chunkId == FourCC())
            streams[chunk.stream].chunkId = chunk.id;
        chunk.key = chunk.id.Bytes()[2] != 'd' ||
                    (indexed ? (U32At(avi, idx1 + 8 + number * 16 + 4) & kIdx1KeyFrame) != 0
                             : IsKeyFrame(avi, chunk));
    }
}

size_t OpenList(Bytes& out, const FourCC& list, const FourCC& type) {
    const size_t at = out.size();
    AddId(out, list);
    AddU32(out, 0);
    AddId(out, type);
    return at;
}

void CloseList(Bytes& out, size_t at) {
    SetU32(out, at + 4, out.size() - at - 8);
}

// Closes a part as a recorder does: a standard index per stream at the end of its movi list, entered
// in the stream's super index; the first part's idx1 behind the list; then the part's sizes.
void ClosePart(Bytes& out, std::vector<Stream>& streams, const std::vector<Chunk>& part, uint32_t number,
               size_t partStart, size_t moviList) {
    if (number >= kSuperIndexSlots)
        throw std::runtime_error("more parts than the super indexes have room for");
    const uint64_t base = moviList + 8;
    for (size_t stream = 0; stream < streams.size(); ++stream) {
        const size_t index = out.size();
        const uint8_t id[4] = {'i', 'x', static_cast<uint8_t>('0' + stream / 10),
                               static_cast<uint8_t>('0' + stream % 10)};
        AddId(out, FourCC::FromBytes(id));
        AddU32(out, 0);
        out.insert(out.end(), {2, 0, 0, 1}); // longs per entry, no subtype, an index of chunks
        AddU32(out, 0);
        AddId(out, streams[stream].chunkId);
        AddU32(out, base);
        AddU32(out, base >> 32);
        AddU32(out, 0);
        uint32_t chunks = 0;
        uint64_t bytes = 0;
        for (const Chunk& chunk : part)
            if (chunk.stream == stream) {
                AddU32(out, chunk.payload - base);
                AddU32(out, chunk.size | (chunk.key ? 0 : kDeltaFrame));
                ++chunks;
                bytes += chunk.size;
            }
        CloseList(out, index);
        SetU32(out, index + 12, chunks);
        const uint32_t sampleSize = U32At(streams[stream].list, 8 + 44);
        const size_t entry = streams[stream].superIndex + 8 + 24 + 16 * size_t{number};
        SetU32(out, entry, index);
        SetU32(out, entry + 8, out.size() - index);
        SetU32(out, entry + 12, sampleSize > 0 ? bytes / sampleSize : chunks);
        SetU32(out, streams[stream].superIndex + 12, number + 1);
    }
    CloseList(out, moviList);
    if (number == 0) {
        AddId(out, fourcc::kIdx1);
        AddU32(out, 16 * part.size());
        for (const Chunk& chunk : part) {
            AddId(out, chunk.id);
            AddU32(out, chunk.key ? kIdx1KeyFrame : 0);
            AddU32(out, chunk.payload - 8 - base);
            AddU32(out, chunk.size);
        }
    }
    CloseList(out, partStart);
}

} // namespace

Bytes RepackAsOpenDml(const Bytes& avi, uint64_t partBytes) {
    Bytes mainHeader;
    std::vector<Stream> streams;
    std::vector<Chunk> chunks;
    ReadSource(avi, mainHeader, streams, chunks);
    if (mainHeader.size() < 56 || streams.empty() || chunks.empty())
        throw std::runtime_error("nothing to repack");

    Bytes out;
    OpenList(out, fourcc::kRiff, fourcc::kAvi);
    const size_t headerList = OpenList(out, fourcc::kList, fourcc::kHdrl);
    PutU32(mainHeader, 12, kInterleavedWithIndex);
    PutU32(mainHeader, 16, 0); // total frames
    AddId(out, fourcc::kAvih);
    AddU32(out, mainHeader.size());
    out.insert(out.end(), mainHeader.begin(), mainHeader.end());
    for (Stream& stream : streams) {
        const size_t list = OpenList(out, fourcc::kList, fourcc::kStrl);
        PutU32(stream.list, 8 + 32, 0); // length
        out.insert(out.end(), stream.list.begin(), stream.list.end());
        stream.superIndex = out.size();
        AddId(out, fourcc::kIndx);
        AddU32(out, 24 + 16 * kSuperIndexSlots);
        out.insert(out.end(), {4, 0, 0, 0}); // longs per entry, no subtype, an index of indexes
        AddU32(out, 0);
        AddId(out, stream.chunkId);
        out.resize(out.size() + 12 + 16 * kSuperIndexSlots, 0);
        CloseList(out, list);
    }
    const size_t odml = OpenList(out, fourcc::kList, fourcc::kOdml);
    AddId(out, fourcc::kDmlh);
    AddU32(out, kDmlhBytes);
    out.resize(out.size() + kDmlhBytes, 0);
    CloseList(out, odml);
    CloseList(out, headerList);

    size_t partStart = 0;
    size_t moviList = OpenList(out, fourcc::kList, fourcc::kMovi);
    uint32_t closed = 0;
    std::vector<Chunk> part;
    for (const Chunk& chunk : chunks) {
        if (!part.empty() && out.size() - partStart >= partBytes) {
            ClosePart(out, streams, part, closed++, partStart, moviList);
            partStart = OpenList(out, fourcc::kRiff, fourcc::kAvix);
            moviList = OpenList(out, fourcc::kList, fourcc::kMovi);
            part.clear();
        }
        Chunk written = chunk;
        written.payload = out.size() + 8;
        part.push_back(written);
        AddId(out, chunk.id);
        AddU32(out, chunk.size);
        const auto payload = avi.begin() + static_cast<ptrdiff_t>(chunk.payload);
        out.insert(out.end(), payload, payload + chunk.size);
        if (chunk.size & 1)
            out.push_back(0);
    }
    return out;
}

} // namespace clipwright::test
