#include "MediaPayloads.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>

namespace clipwright::recgen {

namespace {

constexpr uint8_t kVideoObjectCode = 0x00;
constexpr uint8_t kVopCode = 0xB6;

bool IsStartCodeAt(std::span<const uint8_t> bytes, size_t at) {
    return at + 4 <= bytes.size() && bytes[at] == 0 && bytes[at + 1] == 0 && bytes[at + 2] == 1;
}

std::vector<size_t> StartCodePositions(std::span<const uint8_t> stream) {
    std::vector<size_t> positions;
    for (size_t at = 0; at + 4 <= stream.size(); ++at) {
        if (IsStartCodeAt(stream, at)) {
            positions.push_back(at);
            at += 2;
        }
    }
    return positions;
}

std::vector<uint8_t> ReadWholeFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw std::runtime_error("cannot open payload file " + path.string());
    std::vector<uint8_t> bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    if (in.bad())
        throw std::runtime_error("cannot read payload file " + path.string());
    return bytes;
}

} // namespace

size_t MediaPayloads::KeyFrameCount() const {
    return static_cast<size_t>(std::count_if(videoFrames.begin(), videoFrames.end(),
                                             [](const VideoFrame& frame) { return frame.isKey; }));
}

bool BeginsWithVideoObject(std::span<const uint8_t> frame) {
    return IsStartCodeAt(frame, 0) && frame[3] == kVideoObjectCode;
}

std::vector<VideoFrame> SplitVideoFrames(std::span<const uint8_t> stream) {
    std::vector<size_t> starts = StartCodePositions(stream);
    starts.push_back(stream.size());

    std::vector<VideoFrame> frames;
    size_t frameStart = 0;
    for (size_t i = 0; i + 1 < starts.size(); ++i) {
        if (stream[starts[i] + 3] != kVopCode)
            continue;
        const size_t frameEnd = starts[i + 1];
        std::span<const uint8_t> frame = stream.subspan(frameStart, frameEnd - frameStart);
        frames.push_back({{frame.begin(), frame.end()}, BeginsWithVideoObject(frame)});
        frameStart = frameEnd;
    }
    return frames;
}

std::filesystem::path PayloadDirectory() {
    if (const char* overridden = std::getenv("CLIPWRIGHT_PAYLOAD_DIR");
        overridden != nullptr && *overridden != 0)
        return overridden;
    return CLIPWRIGHT_PAYLOAD_DIR;
}

MediaPayloads LoadPayloads(uint32_t width, uint32_t height) {
    return LoadPayloads(width, height, PayloadDirectory());
}

MediaPayloads LoadPayloads(uint32_t width, uint32_t height, const std::filesystem::path& directory) {
    const std::filesystem::path videoPath =
        directory / ("video-" + std::to_string(width) + "x" + std::to_string(height) + ".m4v");
    const std::filesystem::path audioPath = directory / "audio-8k-mono.adpcm";

    MediaPayloads payloads;
    payloads.width = width;
    payloads.height = height;

    const std::vector<uint8_t> stream = ReadWholeFile(videoPath);
    payloads.videoFrames = SplitVideoFrames(stream);
    if (payloads.videoFrames.empty() || !payloads.videoFrames.front().isKey)
        throw std::runtime_error(videoPath.string() + " does not start with a key frame at 00 00 01 00");

    const std::vector<uint8_t> audio = ReadWholeFile(audioPath);
    if (audio.empty() || audio.size() % kAudioBlockSize != 0)
        throw std::runtime_error(audioPath.string() + " is not a whole number of 256-byte blocks");
    for (size_t at = 0; at < audio.size(); at += kAudioBlockSize) {
        const auto first = audio.begin() + static_cast<std::ptrdiff_t>(at);
        payloads.audioBlocks.emplace_back(first, first + static_cast<std::ptrdiff_t>(kAudioBlockSize));
    }
    return payloads;
}

} // namespace clipwright::recgen
