// What other programs read in an AVI: ffprobe's packets and decoded pictures, GStreamer's duration,
// and the key flags of the file's own idx1. The repair is judged by these, never by itself.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace clipwright::test {

struct Truth;

struct ProbedPacket {
    int stream = 0;
    uint64_t size = 0;
    bool key = false;
    std::optional<double> end; // pts (or dts) plus duration, in seconds
};

struct StreamPackets {
    uint64_t count = 0;
    uint64_t bytes = 0;
    double end = 0;         // of the packet that ends last
    std::vector<bool> keys; // in file order
};

// Every packet ffprobe reads, by stream index.
std::map<int, StreamPackets> ProbePackets(const std::filesystem::path& file);

// The key_frame flag of each picture ffmpeg decodes from the first video stream, in decode order.
std::vector<bool> DecodedKeyPictures(const std::filesystem::path& file);

// The same by the position of the chunk (its header) each picture was decoded from: B-frames
// reorder pictures, never chunks.
std::map<uint64_t, bool> DecodedKeyPicturesByChunk(const std::filesystem::path& file);

// The key flag of each idx1 entry of `stream`, by the position of its chunk's header.
std::map<uint64_t, bool> IndexKeyFlagsByChunk(const std::filesystem::path& file, int stream);

// The key flag of each non-empty idx1 entry of `stream`, in index order; empty without idx1.
std::vector<bool> IndexKeyFlags(const std::filesystem::path& file, int stream);

// The length `mplayer -identify` reports (ID_LENGTH) without playing, or nothing when it reports
// none or fails.
std::optional<double> MPlayerSeconds(const std::filesystem::path& file);

// The duration gst-discoverer-1.0 reports, or nothing when it reports none.
std::optional<double> GStreamerSeconds(const std::filesystem::path& file);
// The warnings GStreamer's AVI reader logs while it reads `file`, one a line.
std::vector<std::string> GStreamerWarnings(const std::filesystem::path& file);

// What the OpenDML indexes of `file` lead a player to: each stream's super index ('indx') followed
// entry by entry to its standard index ('ix##'), and that one's entries to the chunks they name.
struct OpenDmlIndex {
    std::vector<uint32_t> superIndexEntries;   // by stream; 0 for a stream without 'indx'
    std::vector<std::vector<uint64_t>> chunks; // by stream: the chunk headers listed, in index order
    std::vector<std::string> faults;           // what could not be followed, and where
};
OpenDmlIndex ReadOpenDmlIndex(const std::filesystem::path& file);

// The super indexes have an entry for every part in every stream, and the ix## they lead to list
// exactly the complete chunks of their stream.
void ExpectEveryPartIndexed(const std::filesystem::path& file, const Truth& truth);

} // namespace clipwright::test
