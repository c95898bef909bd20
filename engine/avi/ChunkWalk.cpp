#include "avi/ChunkWalk.h"

#include <algorithm>
#include <cstring>

namespace clipwright {

namespace {

constexpr size_t kSearchBlockBytes = size_t{1} << 20;
// Headers are read a block at a time: behind a short chunk (a sound block, a small frame) the next
// header is then read already, and a system call costs more than copying the block.
constexpr size_t kHeaderBlockBytes = 4096;
constexpr size_t kIdBytes = 4;
constexpr size_t kListHeaderBytes = 12; // 'LIST', size, list type: the list's chunks follow
constexpr uint64_t kUnlimited = ~uint64_t{0};

// The first byte at or after `offset` (below `end`) that is not zero, looked for a word at a time.
size_t SkipZeros(const uint8_t* bytes, size_t offset, size_t end) {
    while (offset + 8 <= end) {
        uint64_t word;
        std::memcpy(&word, bytes + offset, sizeof word);
        if (word != 0)
            break;
        offset += 8;
    }
    while (offset < end && bytes[offset] == 0)
        ++offset;
    return offset;
}

bool IsDigit(uint8_t byte) {
    return byte >= '0' && byte <= '9';
}

// Indexes and padding: idx1, JUNK, and the OpenDML standard indexes ('ix##') inside a movi list.
bool IsFiller(const FourCC& id) {
    const auto& bytes = id.Bytes();
    return id == fourcc::kIdx1 || id == fourcc::kJunk ||
           (bytes[0] == 'i' && bytes[1] == 'x' && IsDigit(bytes[2]) && IsDigit(bytes[3]));
}

// A movi list, a 'rec ' group or a further RIFF part: entered whatever its size says, since a
// cut-off write leaves those sizes at placeholders (0, 4, 0xFFFFFFFF).
bool IsEnteredWhatever(const ChunkHeader& header) {
    if (header.prefixBytes < 4)
        return false;
    const FourCC type = FourCC::FromBytes(header.prefix.data());
    return (header.id == fourcc::kList && (type == fourcc::kMovi || type == fourcc::kRec)) ||
           (header.id == fourcc::kRiff && type == fourcc::kAvix);
}

bool ComesBefore(const FourCC& left, const FourCC& right) {
    return left.SortKey() < right.SortKey();
}

} // namespace

MediaIds::MediaIds(std::vector<FourCC> ids) : ids_(std::move(ids)) {
    std::sort(ids_.begin(), ids_.end(), ComesBefore);
    for (const FourCC& id : ids_)
        firstBytes_[id.Bytes()[0]] = true;
}

MediaIds MediaIds::ForStreams(uint32_t streams) {
    static constexpr const char* kKinds[] = {"dc", "db", "wb", "pc", "tx"};
    std::vector<FourCC> ids;
    for (uint32_t stream = 0; stream < std::min(streams, 100u); ++stream)
        for (const char* kind : kKinds) {
            const uint8_t bytes[4] = {static_cast<uint8_t>('0' + stream / 10),
                                      static_cast<uint8_t>('0' + stream % 10), static_cast<uint8_t>(kind[0]),
                                      static_cast<uint8_t>(kind[1])};
            ids.push_back(FourCC::FromBytes(bytes));
        }
    return MediaIds(std::move(ids));
}

bool MediaIds::Contains(const FourCC& id) const {
    return std::binary_search(ids_.begin(), ids_.end(), id, ComesBefore);
}

bool MediaIds::CouldBegin(const uint8_t* bytes, size_t count) const {
    return std::any_of(ids_.begin(), ids_.end(), [&](const FourCC& id) {
        return std::equal(bytes, bytes + count, id.Bytes().begin());
    });
}

uint64_t WalkSummary::DamagedBytes() const {
    uint64_t total = 0;
    for (const DamagedStretch& stretch : damaged)
        total += stretch.bytes;
    return total;
}

ChunkWalk::ChunkWalk(ByteSource& file, uint64_t start, uint64_t fileSize, const MediaIds& media, PadBytes pad,
                     uint32_t cutOffAllowance)
    : file_(file), headerBlock_(file, kHeaderBlockBytes, 0),
      headers_(file.ReadsInBlocks() ? file : headerBlock_), media_(media), fileSize_(fileSize), pad_(pad),
      allowance_(cutOffAllowance), position_(start) {}

const ChunkHeader& ChunkWalk::HeaderAt(uint64_t position) {
    if (!cacheValid_ || cached_.position != position) {
        cached_ = ReadChunkHeader(headers_, position, 4);
        cacheValid_ = true;
    }
    return cached_;
}

bool ChunkWalk::IsStructure(const FourCC& id) const {
    return IsFiller(id) || id == fourcc::kList || id == fourcc::kRiff;
}

bool ChunkWalk::HeaderCut(const ChunkHeader& header) const {
    return !header.SizeWhole() || ((header.id == fourcc::kList || header.id == fourcc::kRiff) &&
                                   header.position + kListHeaderBytes > fileSize_);
}

std::pair<uint64_t, ChunkWalk::Successor> ChunkWalk::After(uint64_t end, uint32_t size) {
    if (size % 2 == 0)
        return {end, JudgeSuccessor(end)};
    // A pad byte the file lacks: the data ends where the file does.
    const uint64_t first = std::min(pad_ == PadBytes::Expected ? end + 1 : end, fileSize_);
    const uint64_t second = std::min(pad_ == PadBytes::Expected ? end : end + 1, fileSize_);
    const Successor atFirst = JudgeSuccessor(first);
    if (atFirst != Successor::Damage)
        return {first, atFirst};
    const Successor atSecond = JudgeSuccessor(second);
    if (atSecond != Successor::Damage)
        return {second, atSecond};
    return {first, atFirst};
}

ChunkWalk::Successor ChunkWalk::JudgeSuccessor(uint64_t position) {
    if (position >= fileSize_)
        return Successor::EndOfData;
    const ChunkHeader& header = HeaderAt(position);
    if (HeaderCut(header)) {
        // The file ends inside this header: a chunk the recording was cut off in, if its first
        // bytes could begin one.
        std::array<uint8_t, kIdBytes> bytes{};
        size_t got = headers_.ReadAt(position, bytes.data(), std::min(header.headerBytes, kIdBytes));
        bool structure = got == kIdBytes && IsStructure(FourCC::FromBytes(bytes.data()));
        return structure || media_.CouldBegin(bytes.data(), got) ? Successor::EndOfData : Successor::Damage;
    }
    if ((media_.Contains(header.id) || IsStructure(header.id)) &&
        (JudgeChunk(header, fileSize_, allowance_) != ChunkFit::Implausible || IsEnteredWhatever(header)))
        return Successor::Chunk;
    return Successor::Damage;
}

bool ChunkWalk::StartsChunk(const ChunkHeader& header) {
    return header.SizeWhole() && media_.Contains(header.id) &&
           JudgeChunk(header, fileSize_, allowance_) == ChunkFit::Whole &&
           JudgeSuccessor(header.End()) != Successor::Damage;
}

bool ChunkWalk::AmongIndexEntries(uint64_t position) {
    constexpr uint64_t kEntryBytes = 16;
    for (const uint64_t neighbour : {position - std::min(position, kEntryBytes), position + kEntryBytes}) {
        std::array<uint8_t, kIdBytes> id{};
        if (neighbour != position && headers_.ReadAt(neighbour, id.data(), id.size()) == id.size() &&
            media_.Contains(FourCC::FromBytes(id.data())))
            return true;
    }
    return false;
}

ChunkWalk::Search ChunkWalk::FindChunk(uint64_t from, uint64_t limit, bool lastResort, uint64_t budget) {
    // Only as large as the stretch searched: a short search needs no megabyte of fresh pages.
    const auto needed =
        static_cast<size_t>(std::min<uint64_t>(kSearchBlockBytes, limit - std::min(from, limit) + 3));
    if (searchBlock_.size() < needed)
        searchBlock_.resize(needed);
    std::optional<uint64_t> lastChunk;
    // The entries of an old index look like small chunks with damage behind them: none of them is
    // taken for the last chunk of the footage.
    uint64_t fillerEnd = 0;
    uint64_t spent = 0;
    uint64_t position = from;
    while (position < limit) {
        // Positions up to `limit` need their four id bytes, which may lie behind it.
        size_t wanted = static_cast<size_t>(std::min<uint64_t>(searchBlock_.size(), limit - position + 3));
        size_t got = file_.ReadAt(position, searchBlock_.data(), wanted);
        if (got < kIdBytes)
            break;
        const size_t candidates = std::min<uint64_t>(got - (kIdBytes - 1), limit - position);
        for (size_t offset = 0; offset < candidates; ++offset) {
            offset = SkipZeros(searchBlock_.data(), offset, candidates);
            if (offset == candidates)
                break;
            const uint8_t byte = searchBlock_[offset];
            // Zeros are what a file holds where nothing was written (preallocated space, a sector
            // cleared after a power cut), and cost nothing to pass.
            if (++spent > budget)
                return {std::nullopt, true, spent};
            const uint64_t candidate = position + offset;
            if (lastResort && !lastChunk && (byte == 'i' || byte == 'J') &&
                IsFiller(FourCC::FromBytes(searchBlock_.data() + offset))) {
                const ChunkHeader& filler = HeaderAt(candidate);
                if (filler.SizeWhole() && JudgeChunk(filler, fileSize_, allowance_) == ChunkFit::Whole)
                    fillerEnd = std::max(fillerEnd, filler.End());
                continue;
            }
            if (!media_.MayStartWith(byte) ||
                !media_.Contains(FourCC::FromBytes(searchBlock_.data() + offset)))
                continue;
            const ChunkHeader header = HeaderAt(candidate);
            if (StartsChunk(header))
                return {candidate, false, spent};
            if (!lastResort || lastChunk || !header.SizeWhole())
                continue;
            const ChunkFit fit = JudgeChunk(header, fileSize_, allowance_);
            if (fit == ChunkFit::CutOff ||
                (fit == ChunkFit::Whole && candidate >= fillerEnd && !AmongIndexEntries(candidate)))
                lastChunk = candidate;
        }
        if (got < wanted)
            break;
        position += candidates;
    }
    return {lastChunk, false, spent};
}

void ChunkWalk::NoteDamage(uint64_t from, uint64_t to) {
    if (to <= from)
        return;
    if (!summary_.damaged.empty()) {
        DamagedStretch& last = summary_.damaged.back();
        if (last.offset + last.bytes == from) {
            last.bytes += to - from;
            return;
        }
    }
    summary_.damaged.push_back({from, to - from});
}

void ChunkWalk::Finish(WalkEnd end, uint64_t offset) {
    finished_ = true;
    summary_.end = end;
    summary_.endOffset = offset;
}

std::optional<ChunkHeader> ChunkWalk::Next() {
    while (!finished_) {
        const ChunkHeader header = HeaderAt(position_);
        if (HeaderCut(header)) {
            if (fillerRunStart_)
                Finish(WalkEnd::Filler, *fillerRunStart_);
            else if (header.headerBytes == 0 || JudgeSuccessor(position_) == Successor::EndOfData)
                Finish(WalkEnd::EndOfFile, position_);
            else
                Finish(WalkEnd::NoChunkBehind, position_);
            return std::nullopt;
        }
        const ChunkFit fit = JudgeChunk(header, fileSize_, allowance_);

        if (media_.Contains(header.id) && fit == ChunkFit::Whole) {
            auto [next, successor] = After(header.End(), header.size);
            if (successor == Successor::Damage) {
                // Either the size is false and the chunks go on inside what it claims, or the
                // damage begins behind this chunk.
                if (auto inside = FindChunk(header.PayloadStart(), header.End(), false, kUnlimited).found) {
                    NoteDamage(position_, *inside);
                    position_ = *inside;
                    continue;
                }
            }
            position_ = next;
            fillerRunStart_.reset();
            return header;
        }
        if (media_.Contains(header.id) && fit == ChunkFit::CutOff) {
            // A size that runs past the end of the file belongs to the last chunk, cut off, unless
            // whole chunks follow inside what it claims.
            if (auto inside = FindChunk(header.PayloadStart(), fileSize_, false, kUnlimited).found) {
                NoteDamage(position_, *inside);
                position_ = *inside;
                continue;
            }
            fillerRunStart_.reset();
            Finish(WalkEnd::CutChunk, position_);
            return header;
        }
        if (IsFiller(header.id) && header.id != fourcc::kJunk)
            summary_.indexes.push_back(position_);
        if (IsFiller(header.id) && fit == ChunkFit::Whole) {
            if (!fillerRunStart_)
                fillerRunStart_ = position_;
            position_ = After(header.End(), header.size).first;
            continue;
        }
        if (IsFiller(header.id) && fit == ChunkFit::CutOff) {
            // An index or filler the file ends in, as a write cut short by a full disk leaves it.
            if (auto inside = FindChunk(header.PayloadStart(), fileSize_, false, kUnlimited).found) {
                NoteDamage(position_, *inside);
                position_ = *inside;
                continue;
            }
            Finish(WalkEnd::Filler, fillerRunStart_.value_or(position_));
            continue;
        }
        // A list's chunks are walked as if it were not there; a cut-off recording's movi list has
        // a size of 0 or 4.
        if ((header.id == fourcc::kList && fit != ChunkFit::Implausible) || IsEnteredWhatever(header)) {
            // The filler before a further part closed the one before it: the data goes on.
            if (header.id == fourcc::kRiff) {
                summary_.extraParts.push_back(position_);
                fillerRunStart_.reset();
            }
            position_ += kListHeaderBytes;
            continue;
        }

        // Damage: look for the next place where the chunks make sense again.
        const uint64_t damageStart = position_;
        const Search search = FindChunk(damageStart + 1, fileSize_, true, kResyncSearchLimit);
        if (search.found) {
            NoteDamage(damageStart, *search.found);
            position_ = *search.found;
            continue;
        }
        summary_.tailIsZeros = search.nonZeroBytes == 0 && header.id == FourCC();
        if (search.gaveUp)
            Finish(WalkEnd::GaveUp, damageStart);
        else if (fillerRunStart_)
            Finish(WalkEnd::Filler, *fillerRunStart_);
        else
            Finish(WalkEnd::NoChunkBehind, damageStart);
    }
    return std::nullopt;
}

} // namespace clipwright
