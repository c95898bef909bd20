// Real MPEG-4 Part 2 frames and MS-ADPCM blocks from which test recordings are built.
#pragma once

#include <cstdint>
#include <filesystem>
#include <span>
#include <vector>

namespace clipwright::recgen {

struct VideoFrame {
    std::vector<uint8_t> bytes;
    bool isKey = false; // begins with the video object start code 00 00 01 00
};

struct MediaPayloads {
    uint32_t width = 0;
    uint32_t height = 0;
    std::vector<VideoFrame> videoFrames; // in stream order; the first one is a key frame
    std::vector<std::vector<uint8_t>> audioBlocks;

    size_t KeyFrameCount() const;
};

inline constexpr size_t kAudioBlockSize = 256; // MS-ADPCM, 500 mono samples at 8000 Hz

// A camera key frame begins with the video object start code; every other frame with a VOP start code.
bool BeginsWithVideoObject(std::span<const uint8_t> frame);

// Splits a raw MPEG-4 Part 2 elementary stream into frames: each frame runs from the first start code
// after the previous VOP up to the first start code after its own VOP (00 00 01 B6).
std::vector<VideoFrame> SplitVideoFrames(std::span<const uint8_t> stream);

// The folder holding video-WxH.m4v and audio-8k-mono.adpcm: $CLIPWRIGHT_PAYLOAD_DIR when set,
// else the tree's tests/data compiled in.
std::filesystem::path PayloadDirectory();

// Loads the stored payloads for one camera resolution (640x480, 320x240 or 160x112).
// Throws std::runtime_error when a file is missing or malformed.
MediaPayloads LoadPayloads(uint32_t width, uint32_t height);
MediaPayloads LoadPayloads(uint32_t width, uint32_t height, const std::filesystem::path& directory);

} // namespace clipwright::recgen
