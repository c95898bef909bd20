#include "ReaderOracles.h"

#include "AviReader.h"
#include "TestFiles.h"
#include "TruthWalk.h"

#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <sstream>
#include <stdexcept>

namespace clipwright::test {

namespace {

constexpr uint32_t kIndexKeyFrame = 0x10;  // AVIIF_KEYFRAME
constexpr uint32_t kSizeBits = 0x7FFFFFFF; // the top bit of a standard index entry's size marks a delta frame

std::optional<double> Seconds(const std::map<std::string, std::string>& fields, const char* key) {
    const auto found = fields.find(key);
    if (found == fields.end() || found->second.empty() || found->second == "N/A")
        return std::nullopt;
    return std::stod(found->second);
}

// Reads at any offset of a file, without reading it whole.
class FileAt {
public:
    explicit FileAt(const std::filesystem::path& file)
        : in_(file, std::ios::binary), size_(std::filesystem::file_size(file)) {}

    uint64_t Size() const { return size_; }
    // False when the file does not hold `count` bytes at `offset`.
    bool Read(uint64_t offset, uint8_t* into, size_t count) {
        if (offset > size_ || count > size_ - offset)
            return false;
        in_.clear();
        in_.seekg(static_cast<std::streamoff>(offset));
        return static_cast<bool>(
            in_.read(reinterpret_cast<char*>(into), static_cast<std::streamsize>(count)));
    }
    Bytes ReadBytes(uint64_t offset, size_t count) {
        Bytes bytes(count);
        if (!Read(offset, bytes.data(), count))
            bytes.clear();
        return bytes;
    }

private:
    std::ifstream in_;
    uint64_t size_;
};

uint64_t U64At(const Bytes& bytes, size_t position) {
    return U32At(bytes, position) | uint64_t{U32At(bytes, position + 4)} << 32;
}

bool NamesStream(const uint8_t* digits, size_t stream) {
    return digits[0] == '0' + stream / 10 && digits[1] == '0' + stream % 10;
}

// Follows one super index entry of `stream` to its ix## and the chunks that lists.
void FollowStandardIndex(FileAt& file, size_t stream, uint64_t offset, OpenDmlIndex& index) {
    const std::string where = "stream " + std::to_string(stream) + ", ix## at " + std::to_string(offset);
    const Bytes header = file.ReadBytes(offset, 32);
    if (header.empty())
        return index.faults.push_back(where + ": past the end of the file");
    if (header[0] != 'i' || header[1] != 'x' || !NamesStream(header.data() + 2, stream))
        return index.faults.push_back(where + ": " + FourCC::FromBytes(header.data()).Quoted() +
                                      " stands there");
    const uint32_t size = U32At(header, 4);
    const uint32_t count = U32At(header, 12);
    const uint64_t base = U64At(header, 20);
    const Bytes entries = file.ReadBytes(offset + 32, size_t{count} * 8);
    if (uint64_t{count} * 8 + 24 > size || offset + 8 + size > file.Size() ||
        entries.size() != size_t{count} * 8)
        return index.faults.push_back(where + ": its " + std::to_string(count) + " entries do not fit");
    for (size_t entry = 0; entry < count; ++entry) {
        const uint64_t chunk = base + U32At(entries, entry * 8) - 8;
        const uint32_t bytes = U32At(entries, entry * 8 + 4) & kSizeBits;
        const Bytes chunkHeader = file.ReadBytes(chunk, 8);
        if (chunkHeader.empty() || !NamesStream(chunkHeader.data(), stream) ||
            U32At(chunkHeader, 4) != bytes) {
            index.faults.push_back(where + ": entry " + std::to_string(entry) +
                                   " names no chunk of its stream");
            continue;
        }
        index.chunks[stream].push_back(chunk);
    }
}

} // namespace

std::map<int, StreamPackets> ProbePackets(const std::filesystem::path& file) {
    std::map<int, StreamPackets> streams;
    for (const auto& fields :
         ProbeLines("-show_entries packet=stream_index,size,flags,pts_time,dts_time,duration_time", file)) {
        StreamPackets& stream = streams[std::stoi(fields.at("stream_index"))];
        ++stream.count;
        stream.bytes += std::stoull(fields.at("size"));
        stream.keys.push_back(fields.at("flags").find('K') != std::string::npos);
        const std::optional<double> start =
            Seconds(fields, "pts_time") ? Seconds(fields, "pts_time") : Seconds(fields, "dts_time");
        if (start)
            stream.end = std::max(stream.end, *start + Seconds(fields, "duration_time").value_or(0));
    }
    return streams;
}

std::vector<bool> DecodedKeyPictures(const std::filesystem::path& file) {
    std::vector<bool> keys;
    for (const auto& fields : ProbeLines("-select_streams v:0 -show_entries frame=key_frame", file))
        keys.push_back(fields.at("key_frame") == "1");
    return keys;
}

std::map<uint64_t, bool> DecodedKeyPicturesByChunk(const std::filesystem::path& file) {
    std::map<uint64_t, bool> keys;
    for (const auto& fields : ProbeLines("-select_streams v:0 -show_entries frame=pkt_pos,key_frame", file))
        if (fields.contains("key_frame")) // side data comes in lines of its own
            keys[std::stoull(fields.at("pkt_pos")) - 8] = fields.at("key_frame") == "1";
    return keys;
}

std::map<uint64_t, bool> IndexKeyFlagsByChunk(const std::filesystem::path& file, int stream) {
    const avitest::AviReader reader(file.string());
    std::map<uint64_t, bool> keys;
    for (const avitest::IndexEntry& entry : reader.Index()) {
        const avitest::Chunk chunk{entry.id, 0, entry.size, {}};
        if (chunk.StreamNumber() == stream)
            keys[reader.MoviListOffset() + 8 + entry.offset] = (entry.flags & kIndexKeyFrame) != 0;
    }
    return keys;
}

std::vector<bool> IndexKeyFlags(const std::filesystem::path& file, int stream) {
    const avitest::AviReader reader(file.string());
    std::vector<bool> keys;
    for (const avitest::IndexEntry& entry : reader.Index()) {
        const avitest::Chunk chunk{entry.id, 0, entry.size, {}};
        if (chunk.StreamNumber() == stream && entry.size > 0)
            keys.push_back((entry.flags & kIndexKeyFrame) != 0);
    }
    return keys;
}

std::optional<double> MPlayerSeconds(const std::filesystem::path& file) {
    const CommandResult result = RunCommand("mplayer -really-quiet -identify -frames 0 -vo null -ao null " +
                                            ShellQuote(file.string()));
    static const std::regex length("ID_LENGTH=([0-9.]+)");
    std::smatch match;
    if (result.exitStatus != 0 || !std::regex_search(result.out, match, length))
        return std::nullopt;
    return std::stod(match[1]);
}

std::optional<double> GStreamerSeconds(const std::filesystem::path& file) {
    const CommandResult result = RunCommand("gst-discoverer-1.0 " + ShellQuote(file.string()));
    static const std::regex duration("Duration: ([0-9]+):([0-9]+):([0-9.]+)");
    std::smatch match;
    if (result.exitStatus != 0 || !std::regex_search(result.out, match, duration))
        return std::nullopt;
    return std::stod(match[1]) * 3600 + std::stod(match[2]) * 60 + std::stod(match[3]);
}

std::vector<std::string> GStreamerWarnings(const std::filesystem::path& file) {
    const CommandResult result = RunCommand("GST_DEBUG=avidemux:2 GST_DEBUG_NO_COLOR=1 gst-discoverer-1.0 " +
                                            ShellQuote(file.string()));
    std::vector<std::string> warnings;
    std::istringstream lines(result.err + result.out);
    for (std::string line; std::getline(lines, line);)
        if (line.find(" WARN ") != std::string::npos)
            warnings.push_back(line);
    return warnings;
}

OpenDmlIndex ReadOpenDmlIndex(const std::filesystem::path& file) {
    FileAt in(file);
    OpenDmlIndex index;
    // The header list is the first list behind 'RIFF' size 'AVI ', each stream's list in it.
    const Bytes top = in.ReadBytes(12, 12);
    if (top.empty() || FourCC::FromBytes(top.data()) != fourcc::kList ||
        FourCC::FromBytes(top.data() + 8) != fourcc::kHdrl)
        throw std::runtime_error(file.string() + " does not begin with a header list");
    const Bytes header = in.ReadBytes(24, U32At(top, 4) - 4);
    size_t stream = 0;
    for (size_t at = 0; at + 12 <= header.size();
         at += 8 + U32At(header, at + 4) + (U32At(header, at + 4) & 1)) {
        if (FourCC::FromBytes(header.data() + at) != fourcc::kList ||
            FourCC::FromBytes(header.data() + at + 8) != fourcc::kStrl)
            continue;
        index.superIndexEntries.push_back(0);
        index.chunks.emplace_back();
        const size_t listEnd = std::min(header.size(), at + 8 + U32At(header, at + 4));
        for (size_t piece = at + 12; piece + 8 <= listEnd;
             piece += 8 + U32At(header, piece + 4) + (U32At(header, piece + 4) & 1)) {
            if (FourCC::FromBytes(header.data() + piece) != fourcc::kIndx)
                continue;
            const uint32_t entries = U32At(header, piece + 12);
            index.superIndexEntries.back() = entries;
            for (uint32_t entry = 0; entry < entries; ++entry) {
                const size_t slot = piece + 8 + 24 + size_t{entry} * 16;
                if (slot + 16 > listEnd) {
                    index.faults.push_back("stream " + std::to_string(stream) +
                                           ": 'indx' holds fewer entries than it says");
                    break;
                }
                FollowStandardIndex(in, stream, U64At(header, slot), index);
            }
        }
        ++stream;
    }
    return index;
}

void ExpectEveryPartIndexed(const std::filesystem::path& file, const Truth& truth) {
    const OpenDmlIndex index = ReadOpenDmlIndex(file);
    std::string faults;
    for (const std::string& fault : index.faults)
        faults += fault + "\n";
    EXPECT_EQ(faults, "");
    ASSERT_EQ(index.chunks.size(), truth.streams.size());
    for (size_t stream = 0; stream < truth.streams.size(); ++stream) {
        std::vector<uint64_t> chunks;
        for (const TruthChunk& chunk : truth.chunks)
            if (chunk.stream == static_cast<int>(stream))
                chunks.push_back(chunk.offset);
        EXPECT_EQ(index.superIndexEntries[stream], truth.parts) << "super index entries of stream " << stream;
        EXPECT_EQ(index.chunks[stream], chunks) << "chunks the ix## of stream " << stream << " list";
    }
}

} // namespace clipwright::test
