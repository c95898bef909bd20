// What a recording's streams are, read from their chunks alone: for a recording whose header was
// lost, so that a rebuild declares what the data holds, never the camera's defaults unless they fit.
// Fed the first bytes of each chunk in file order; everything read here is untrusted.
#pragma once

#include "avi/FourCC.h"

#include <array>
#include <cstdint>
#include <optional>
#include <span>

namespace clipwright::codec {

enum class VideoKind : uint8_t { Unknown, Mpeg4Visual, H264, Mjpeg };

struct VideoFacts {
    VideoKind kind = VideoKind::Unknown;
    FourCC compression; // as a file declares it: DX50, XVID, FMP4, H264, MJPG
    uint32_t width = 0; // 0 when no header with the size was found
    uint32_t height = 0;
    // The frame rate the bitstream declares, rate / scale frames a second; 0 when it declares none.
    uint32_t rate = 0;
    uint32_t scale = 0;
};

enum class SoundKind : uint8_t {
    None,    // no sound chunk
    Unknown, // chunks that fit no format: neither coded sound nor samples with a shape
    MsAdpcm,
    ImaAdpcm,
    Mpeg, // MPEG audio layer 1, 2 or 3
    Ac3,
    Pcm,
};

struct SoundFacts {
    SoundKind kind = SoundKind::None;
    uint16_t channels = 0;
    uint16_t bitsPerSample = 0;   // PCM
    uint32_t sampleRate = 0;      // from the bitstream (MPEG audio, AC-3); 0 when it does not say
    uint16_t blockAlign = 0;      // ADPCM
    uint32_t samplesPerBlock = 0; // ADPCM
    uint8_t mpegLayer = 0;
    uint32_t bitrate = 0; // bits a second, the mean when it varies (MPEG audio, AC-3)
    bool constantBitrate = true;
    bool frameAChunk = false;     // every chunk holds one whole frame (MPEG audio)
    uint32_t samplesPerFrame = 0; // MPEG audio, AC-3
    uint32_t frameBytes = 0;      // of the first frame
    bool silent = false;          // PCM whose samples are all alike: any shape plays it alike

    uint64_t chunks = 0;
    uint64_t bytes = 0;

    // Seconds of sound the chunks hold, where the bitstream gives its clock.
    std::optional<double> Seconds() const;
    // Samples of each channel the chunks hold, where the sample rate is what is missing (PCM, ADPCM).
    std::optional<double> SampleFrames() const;
};

// How many chunks of each stream are looked into.
inline constexpr uint64_t kVideoFramesLookedAt = 300;
inline constexpr uint64_t kSoundChunksLookedAt = 200;

class StreamReading {
public:
    // `prefix`: the frame's first bytes, up to 4, as the walk has them.
    bool WantsVideoHead(std::span<const uint8_t> prefix) const;
    // The first frames and sound chunks have been looked at.
    bool KindsKnown() const {
        return framesLookedAt_ >= kVideoFramesLookedAt && soundLookedAt_ >= kSoundChunksLookedAt;
    }
    bool WantsSoundHead() const { return sound_.chunks < kSoundChunksLookedAt; }
    // `head`: up to 4096 first bytes of the payload the file holds; `size`: the chunk's size.
    void FeedVideo(std::span<const uint8_t> head);
    void FeedSound(std::span<const uint8_t> head, uint32_t size);

    VideoFacts Video() const;
    SoundFacts Sound() const;

private:
    VideoKind LeadingKind() const;
    enum Shape : uint8_t { Pcm16Mono, Pcm16Stereo, Pcm8Mono, Pcm8Stereo, kShapes };
    enum Adpcm : uint8_t { MsMono, MsStereo, ImaMono, ImaStereo, kAdpcmKinds };
    struct MpegHeader {
        uint8_t version = 0; // 0: MPEG-2.5, 2: MPEG-2, 3: MPEG-1
        uint8_t layer = 0;
        uint32_t sampleRate = 0;
        uint16_t channels = 0;
        uint32_t bitrate = 0;
        uint32_t frameBytes = 0;
        uint32_t samplesPerFrame = 0;
        bool SameStream(const MpegHeader& other) const {
            return version == other.version && layer == other.layer && sampleRate == other.sampleRate &&
                   channels == other.channels;
        }
    };
    struct Ac3Header {
        uint32_t sampleRate = 0;
        uint16_t channels = 0;
        uint32_t bitrate = 0;
        uint32_t frameBytes = 0;
    };
    static std::optional<MpegHeader> ParseMpegHeader(std::span<const uint8_t> bytes);
    static std::optional<Ac3Header> ParseAc3Header(std::span<const uint8_t> bytes);
    static bool AdpcmHeaderFits(Adpcm kind, std::span<const uint8_t> block);
    void ReadMpeg(std::span<const uint8_t> head, uint32_t size);
    void ReadAc3(std::span<const uint8_t> head);
    void ReadAdpcm(std::span<const uint8_t> head, uint32_t size);
    void ReadShapes(std::span<const uint8_t> head);

    // Video.
    uint64_t framesLookedAt_ = 0;
    std::array<uint64_t, 4> votes_{}; // by VideoKind
    VideoFacts video_;
    bool sizeFound_ = false;
    std::optional<FourCC> mpeg4Writer_; // from the user data of an MPEG-4 stream

    // Sound.
    SoundFacts sound_;
    uint64_t soundLookedAt_ = 0;
    // MPEG audio: chunks holding two frame headers in a row of one stream, and their first.
    uint64_t mpegChunks_ = 0;
    uint64_t mpegFrameChunks_ = 0; // chunks one frame long
    std::optional<MpegHeader> mpeg_;
    uint64_t mpegBitrateSum_ = 0;
    uint64_t mpegFrames_ = 0;
    bool mpegBitrateVaries_ = false;
    uint64_t ac3Chunks_ = 0;
    std::optional<Ac3Header> ac3_;
    // ADPCM: block headers that fit at each block size tried (chunk size divided by 1, 2, 4... down
    // to 32 bytes), per kind; tried at block starts within the heads.
    static constexpr size_t kBlockSizesTried = 8;
    std::array<std::array<uint64_t, kBlockSizesTried>, kAdpcmKinds> adpcmFits_{};
    std::array<uint64_t, kBlockSizesTried> adpcmTried_{};
    uint32_t firstSize_ = 0;
    // PCM: for each shape, the summed distance between neighbouring samples of a channel, and
    // between samples two apart: a sound sampled well above its pitch moves little between
    // neighbours, and only when read with its own shape.
    std::array<double, kShapes> nearDistance_{};
    std::array<double, kShapes> farDistance_{};
    uint64_t pairsAlike_ = 0; // 16-bit stereo frames whose channels are equal
    uint64_t pairsSeen_ = 0;
    uint64_t bytePairsAlike_ = 0; // 8-bit stereo frames whose channels are equal, two a pair
    bool anyNonZero_ = false;
    uint64_t unsignedCentre_ = 0; // bytes 96 to 160: 8-bit samples about their middle
    uint64_t bytesSeen_ = 0;
};

} // namespace clipwright::codec
