#include "codec/StreamDetection.h"

#include "codec/BitReader.h"
#include "codec/H264Headers.h"
#include "codec/MjpegHeaders.h"
#include "codec/Mpeg4Headers.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <numeric>
#include <string_view>

namespace clipwright::codec {

namespace {

// A kind is taken when most frames looked at agree on it.
constexpr double kVideoMajority = 0.5;
// Block headers at this share of the block starts tried: a cut-off last chunk may miss.
constexpr double kAdpcmFitShare = 0.97;
constexpr uint64_t kAdpcmLeastBlocks = 3;
constexpr uint32_t kAdpcmSmallestBlock = 32;
// Chunks with MPEG audio or AC-3 frames, of those looked at.
constexpr double kCodedSoundShare = 0.9;
// A sound read with its own shape moves between neighbouring samples well under what it moves
// over two; noise, or a wrong shape, moves as much over either.
constexpr double kSmoothness = 0.8;
constexpr uint64_t kLeastPcmBytes = 512;

uint16_t ReadU16(std::span<const uint8_t> bytes, size_t at) {
    return static_cast<uint16_t>(bytes[at] | bytes[at + 1] << 8);
}

int16_t ReadI16(std::span<const uint8_t> bytes, size_t at) {
    return static_cast<int16_t>(ReadU16(bytes, at));
}

bool StartsWith(std::span<const uint8_t> bytes, std::string_view text) {
    return bytes.size() >= text.size() && std::equal(text.begin(), text.end(), bytes.begin());
}

// MPEG-4 Visual: a VOP, VOL, GOV or visual object sequence start code in the frame's first bytes.
bool LooksMpeg4(std::span<const uint8_t> head) {
    for (auto unit = NextStartCodeUnit(head, 0); unit; unit = NextStartCodeUnit(head, unit->End())) {
        if (unit->code == kMpeg4Vop || unit->code == kMpeg4Gov || IsMpeg4Vol(unit->code) ||
            unit->code == 0xB0)
            return true;
    }
    return false;
}

// H.264 in Annex B: the frame starts with a start code and a NAL unit of an access unit's start.
bool LooksH264(std::span<const uint8_t> head) {
    const bool startCode =
        StartsWith(head, std::string_view("\0\0\1", 3)) || StartsWith(head, std::string_view("\0\0\0\1", 4));
    if (!startCode)
        return false;
    const std::optional<NalUnit> nal = NextNalUnit(head, 0);
    if (!nal || (nal->bytes[0] & 0x80) != 0)
        return false;
    switch (nal->Type()) {
    case kH264NonIdrSlice:
    case kH264IdrSlice:
    case kH264Sei:
    case kH264Sps:
    case kH264Pps:
    case 9: // access unit delimiter
        return true;
    default:
        return false;
    }
}

bool LooksMjpeg(std::span<const uint8_t> head) {
    return head.size() >= 3 && head[0] == 0xFF && head[1] == 0xD8 && head[2] == 0xFF;
}

// The encoder's name in an MPEG-4 stream's user data, as the compression code readers know it by.
std::optional<FourCC> Mpeg4WriterCode(std::span<const uint8_t> head) {
    constexpr uint8_t kUserData = 0xB2;
    for (auto unit = NextStartCodeUnit(head, 0); unit; unit = NextStartCodeUnit(head, unit->End())) {
        if (unit->code != kUserData)
            continue;
        if (StartsWith(unit->body, "DivX"))
            return FourCC("DX50");
        if (StartsWith(unit->body, "XviD"))
            return FourCC("XVID");
        return FourCC("FMP4");
    }
    return std::nullopt;
}

// rate / scale with both as small as they go.
void SetRate(VideoFacts& video, uint64_t rate, uint64_t scale) {
    if (rate == 0 || scale == 0)
        return;
    const uint64_t divisor = std::gcd(rate, scale);
    rate /= divisor;
    scale /= divisor;
    const double perSecond = static_cast<double>(rate) / static_cast<double>(scale);
    if (rate > UINT32_MAX || scale > UINT32_MAX || perSecond < 1 || perSecond > 240)
        return;
    video.rate = static_cast<uint32_t>(rate);
    video.scale = static_cast<uint32_t>(scale);
}

constexpr std::array<uint32_t, 19> kAc3Kilobits = {32,  40,  48,  56,  64,  80,  96,  112, 128, 160,
                                                   192, 224, 256, 320, 384, 448, 512, 576, 640};

} // namespace

std::optional<double> SoundFacts::Seconds() const {
    switch (kind) {
    case SoundKind::Mpeg:
        if (frameAChunk && sampleRate != 0)
            return static_cast<double>(chunks) * samplesPerFrame / sampleRate;
        [[fallthrough]];
    case SoundKind::Ac3:
        if (bitrate == 0)
            return std::nullopt;
        return static_cast<double>(bytes) * 8 / bitrate;
    default:
        return std::nullopt;
    }
}

std::optional<double> SoundFacts::SampleFrames() const {
    switch (kind) {
    case SoundKind::MsAdpcm:
    case SoundKind::ImaAdpcm:
        if (blockAlign == 0)
            return std::nullopt;
        return static_cast<double>(bytes / blockAlign) * samplesPerBlock;
    case SoundKind::Pcm:
        if (channels == 0 || bitsPerSample == 0)
            return std::nullopt;
        return static_cast<double>(bytes) / (channels * (bitsPerSample / 8));
    default:
        return std::nullopt;
    }
}

bool StreamReading::WantsVideoHead(std::span<const uint8_t> prefix) const {
    if (framesLookedAt_ < kVideoFramesLookedAt)
        return true;
    if (sizeFound_ || prefix.size() < 4)
        return false;
    // Past them, while no size was found, only a frame that may begin with the header giving it.
    const bool startCode =
        prefix[0] == 0 && prefix[1] == 0 && (prefix[2] == 1 || (prefix[2] == 0 && prefix[3] == 1));
    switch (LeadingKind()) {
    case VideoKind::Mpeg4Visual:
        return startCode && prefix[2] == 1 &&
               (prefix[3] <= kMpeg4VolLast || prefix[3] == 0xB0 || prefix[3] == 0xB5);
    case VideoKind::H264:
        return startCode;
    case VideoKind::Mjpeg:
        return LooksMjpeg(prefix);
    case VideoKind::Unknown:
        break;
    }
    return false;
}

VideoKind StreamReading::LeadingKind() const {
    const auto best = std::max_element(votes_.begin(), votes_.end());
    if (framesLookedAt_ == 0 ||
        static_cast<double>(*best) <= kVideoMajority * static_cast<double>(framesLookedAt_))
        return VideoKind::Unknown;
    return static_cast<VideoKind>(best - votes_.begin());
}

void StreamReading::FeedVideo(std::span<const uint8_t> head) {
    if (head.empty())
        return;
    if (framesLookedAt_ < kVideoFramesLookedAt) {
        ++framesLookedAt_;
        // One vote a frame, in this order: an MPEG-4 frame may hold bytes that look like a NAL unit.
        if (LooksMpeg4(head))
            ++votes_[static_cast<size_t>(VideoKind::Mpeg4Visual)];
        else if (LooksMjpeg(head))
            ++votes_[static_cast<size_t>(VideoKind::Mjpeg)];
        else if (LooksH264(head))
            ++votes_[static_cast<size_t>(VideoKind::H264)];
    }
    // The size and rate from the first header that gives them, of whichever kind.
    if (!mpeg4Writer_)
        mpeg4Writer_ = Mpeg4WriterCode(head);
    if (sizeFound_)
        return;
    if (std::optional<Mpeg4Vol> vol = FindMpeg4Vol(head); vol && vol->width && vol->height) {
        video_ = {VideoKind::Mpeg4Visual, FourCC("DX50"), *vol->width, *vol->height, 0, 0};
        if (vol->fixedTimeIncrement)
            SetRate(video_, vol->timeIncrementResolution, *vol->fixedTimeIncrement);
        sizeFound_ = true;
    } else if (LooksMjpeg(head)) {
        if (std::optional<MjpegSize> size = ParseMjpegSize(head)) {
            video_ = {VideoKind::Mjpeg, FourCC("MJPG"), size->width, size->height, 0, 0};
            sizeFound_ = true;
        }
    } else if (LooksH264(head)) {
        if (std::optional<H264Sps> sps = FindH264Sps(head); sps && sps->width != 0 && sps->height != 0) {
            video_ = {VideoKind::H264, FourCC("H264"), sps->width, sps->height, 0, 0};
            if (sps->numUnitsInTick && sps->timeScale)
                SetRate(video_, *sps->timeScale, uint64_t{2} * *sps->numUnitsInTick);
            sizeFound_ = true;
        }
    }
}

VideoFacts StreamReading::Video() const {
    VideoFacts facts;
    const auto best = std::max_element(votes_.begin(), votes_.end());
    if (framesLookedAt_ == 0 ||
        static_cast<double>(*best) <= kVideoMajority * static_cast<double>(framesLookedAt_))
        return facts;
    facts.kind = static_cast<VideoKind>(best - votes_.begin());
    if (sizeFound_ && video_.kind == facts.kind)
        facts = video_;
    switch (facts.kind) {
    case VideoKind::Mpeg4Visual:
        facts.compression = mpeg4Writer_.value_or(FourCC("DX50"));
        break;
    case VideoKind::H264:
        facts.compression = FourCC("H264");
        break;
    case VideoKind::Mjpeg:
        facts.compression = FourCC("MJPG");
        break;
    case VideoKind::Unknown:
        break;
    }
    return facts;
}

std::optional<StreamReading::MpegHeader> StreamReading::ParseMpegHeader(std::span<const uint8_t> bytes) {
    if (bytes.size() < 4 || bytes[0] != 0xFF || (bytes[1] & 0xE0) != 0xE0)
        return std::nullopt;
    MpegHeader header;
    header.version = static_cast<uint8_t>((bytes[1] >> 3) & 3);
    const unsigned layerBits = (bytes[1] >> 1) & 3;
    const unsigned bitrateIndex = bytes[2] >> 4;
    const unsigned rateIndex = (bytes[2] >> 2) & 3;
    const unsigned padding = (bytes[2] >> 1) & 1;
    const unsigned mode = bytes[3] >> 6;
    const unsigned emphasis = bytes[3] & 3;
    if (header.version == 1 || layerBits == 0 || bitrateIndex == 0 || bitrateIndex == 15 || rateIndex == 3 ||
        emphasis == 2)
        return std::nullopt;
    header.layer = static_cast<uint8_t>(4 - layerBits);
    static constexpr std::array<uint32_t, 3> kMpeg1Rates = {44100, 48000, 32000};
    header.sampleRate = kMpeg1Rates[rateIndex] >> (header.version == 3 ? 0 : header.version == 2 ? 1 : 2);
    header.channels = mode == 3 ? 1 : 2;
    static constexpr std::array<std::array<uint16_t, 15>, 5> kKilobits = {{
        {0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448}, // MPEG-1 layer 1
        {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384},    // MPEG-1 layer 2
        {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320},     // MPEG-1 layer 3
        {0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256},    // MPEG-2 layer 1
        {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160},         // MPEG-2 layers 2, 3
    }};
    const bool mpeg1 = header.version == 3;
    const size_t table = mpeg1 ? header.layer - 1u : header.layer == 1 ? 3u : 4u;
    header.bitrate = kKilobits[table][bitrateIndex] * 1000u;
    if (header.layer == 1) {
        header.samplesPerFrame = 384;
        header.frameBytes = (12 * header.bitrate / header.sampleRate + padding) * 4;
    } else {
        header.samplesPerFrame = header.layer == 3 && !mpeg1 ? 576 : 1152;
        header.frameBytes = header.samplesPerFrame / 8 * header.bitrate / header.sampleRate + padding;
    }
    if (header.frameBytes < 4)
        return std::nullopt;
    return header;
}

std::optional<StreamReading::Ac3Header> StreamReading::ParseAc3Header(std::span<const uint8_t> bytes) {
    if (bytes.size() < 8 || bytes[0] != 0x0B || bytes[1] != 0x77)
        return std::nullopt;
    BitReader bits(bytes.subspan(4));
    const uint32_t rateCode = bits.Bits(2).value_or(3);
    const uint32_t sizeCode = bits.Bits(6).value_or(63);
    const uint32_t streamId = bits.Bits(5).value_or(31);
    bits.Skip(3); // bsmod
    const uint32_t channelMode = bits.Bits(3).value_or(0);
    if (rateCode == 3 || sizeCode / 2 >= kAc3Kilobits.size() || streamId > 10)
        return std::nullopt;
    if ((channelMode & 1) != 0 && channelMode != 1)
        bits.Skip(2); // cmixlev
    if ((channelMode & 4) != 0)
        bits.Skip(2); // surmixlev
    if (channelMode == 2)
        bits.Skip(2); // dsurmod
    const std::optional<bool> lowFrequency = bits.Flag();
    if (!lowFrequency)
        return std::nullopt;
    static constexpr std::array<uint16_t, 8> kChannels = {2, 1, 2, 3, 3, 4, 4, 5};
    static constexpr std::array<uint32_t, 3> kRates = {48000, 44100, 32000};
    Ac3Header header;
    header.sampleRate = kRates[rateCode];
    header.channels = static_cast<uint16_t>(kChannels[channelMode] + (*lowFrequency ? 1 : 0));
    const uint32_t kilobits = kAc3Kilobits[sizeCode / 2];
    header.bitrate = kilobits * 1000;
    // 16-bit words a frame of 1536 samples takes; 44.1 kHz frames alternate by one word.
    const uint32_t words = rateCode == 0   ? 2 * kilobits
                           : rateCode == 2 ? 3 * kilobits
                                           : kilobits * 1536 * 1000 / (44100 * 16) + (sizeCode & 1);
    header.frameBytes = 2 * words;
    return header;
}

void StreamReading::ReadMpeg(std::span<const uint8_t> head, uint32_t size) {
    // A frame header with a second of the same stream behind it; a chunk may start inside a frame.
    for (size_t at = 0; at + 4 <= head.size(); ++at) {
        if (head[at] != 0xFF)
            continue;
        const std::optional<MpegHeader> first = ParseMpegHeader(head.subspan(at));
        if (!first || (mpeg_ && !mpeg_->SameStream(*first)))
            continue;
        const size_t next = at + first->frameBytes;
        bool confirmed = next == size; // the chunk ends where the frame does
        if (!confirmed && next + 4 <= head.size()) {
            const std::optional<MpegHeader> second = ParseMpegHeader(head.subspan(next));
            confirmed = second && second->SameStream(*first);
        }
        if (!confirmed)
            continue;
        if (!mpeg_)
            mpeg_ = first;
        ++mpegChunks_;
        if (at == 0 && next == size)
            ++mpegFrameChunks_;
        if (first->bitrate != mpeg_->bitrate)
            mpegBitrateVaries_ = true;
        mpegBitrateSum_ += first->bitrate;
        ++mpegFrames_;
        return;
    }
}

void StreamReading::ReadAc3(std::span<const uint8_t> head) {
    std::optional<Ac3Header> header = ParseAc3Header(head);
    if (!header || (ac3_ && (ac3_->sampleRate != header->sampleRate || ac3_->channels != header->channels)))
        return;
    if (!ac3_)
        ac3_ = header;
    ++ac3Chunks_;
}

bool StreamReading::AdpcmHeaderFits(Adpcm kind, std::span<const uint8_t> block) {
    switch (kind) {
    case MsMono: // predictor 0 to 6, then a step of at least 16
        return block.size() >= 3 && block[0] <= 6 && ReadI16(block, 1) >= 16;
    case MsStereo:
        return block.size() >= 6 && block[0] <= 6 && block[1] <= 6 && ReadI16(block, 2) >= 16 &&
               ReadI16(block, 4) >= 16;
    case ImaMono: // a sample, a step index of 0 to 88, a zero byte
        return block.size() >= 4 && block[2] <= 88 && block[3] == 0;
    case ImaStereo:
        return block.size() >= 8 && block[2] <= 88 && block[3] == 0 && block[6] <= 88 && block[7] == 0;
    default:
        return false;
    }
}

void StreamReading::ReadAdpcm(std::span<const uint8_t> head, uint32_t size) {
    if (firstSize_ == 0)
        firstSize_ = size;
    for (size_t step = 0; step < kBlockSizesTried; ++step) {
        const uint32_t block = firstSize_ >> step;
        if (block < kAdpcmSmallestBlock || firstSize_ % block != 0)
            break;
        // Whole blocks only: a chunk that is no multiple of the block is a miss at its end.
        for (size_t at = 0; at < size; at += block) {
            if (at + 8 > head.size())
                break;
            ++adpcmTried_[step];
            const bool whole = size % block == 0 || at + block <= size;
            for (size_t kind = 0; kind < kAdpcmKinds; ++kind)
                if (whole && AdpcmHeaderFits(static_cast<Adpcm>(kind), head.subspan(at)))
                    ++adpcmFits_[kind][step];
        }
    }
}

void StreamReading::ReadShapes(std::span<const uint8_t> head) {
    const size_t n = head.size() & ~size_t{3}; // whole frames of every shape
    bytesSeen_ += n;
    for (size_t i = 0; i < n; ++i) {
        anyNonZero_ |= head[i] != 0;
        unsignedCentre_ += head[i] >= 96 && head[i] <= 160 ? 1u : 0u;
    }
    auto add = [&](Shape shape, auto sample, size_t count, size_t channels) {
        for (size_t i = 2 * channels; i < count; ++i) {
            nearDistance_[shape] += std::abs(sample(i) - sample(i - channels));
            farDistance_[shape] += std::abs(sample(i) - sample(i - 2 * channels));
        }
    };
    auto s16 = [&](size_t i) { return static_cast<double>(ReadI16(head, 2 * i)); };
    auto u8 = [&](size_t i) { return static_cast<double>(head[i]) * 256; };
    add(Pcm16Mono, s16, n / 2, 1);
    add(Pcm16Stereo, s16, n / 2, 2);
    add(Pcm8Mono, u8, n, 1);
    add(Pcm8Stereo, u8, n, 2);
    for (size_t i = 0; i + 4 <= n; i += 4) {
        ++pairsSeen_;
        pairsAlike_ += ReadU16(head, i) == ReadU16(head, i + 2) ? 1u : 0u;
        bytePairsAlike_ += (head[i] == head[i + 1] ? 1u : 0u) + (head[i + 2] == head[i + 3] ? 1u : 0u);
    }
}

void StreamReading::FeedSound(std::span<const uint8_t> head, uint32_t size) {
    ++sound_.chunks;
    sound_.bytes += size;
    if (size == 0 || soundLookedAt_ >= kSoundChunksLookedAt)
        return;
    ++soundLookedAt_;
    ReadMpeg(head, size);
    ReadAc3(head);
    ReadAdpcm(head, size);
    ReadShapes(head);
}

SoundFacts StreamReading::Sound() const {
    SoundFacts facts;
    facts.chunks = sound_.chunks;
    facts.bytes = sound_.bytes;
    if (facts.chunks == 0)
        return facts;
    facts.kind = SoundKind::Unknown;
    if (soundLookedAt_ == 0)
        return facts;
    const auto looked = static_cast<double>(soundLookedAt_);
    if (mpeg_ && static_cast<double>(mpegChunks_) >= kCodedSoundShare * looked) {
        facts.kind = SoundKind::Mpeg;
        facts.mpegLayer = mpeg_->layer;
        facts.channels = mpeg_->channels;
        facts.sampleRate = mpeg_->sampleRate;
        facts.samplesPerFrame = mpeg_->samplesPerFrame;
        facts.frameBytes = mpeg_->frameBytes;
        facts.constantBitrate = !mpegBitrateVaries_;
        facts.bitrate = static_cast<uint32_t>(mpegBitrateSum_ / std::max<uint64_t>(mpegFrames_, 1));
        facts.frameAChunk = static_cast<double>(mpegFrameChunks_) >= kCodedSoundShare * looked;
        return facts;
    }
    if (ac3_ && static_cast<double>(ac3Chunks_) >= kCodedSoundShare * looked) {
        facts.kind = SoundKind::Ac3;
        facts.channels = ac3_->channels;
        facts.sampleRate = ac3_->sampleRate;
        facts.bitrate = ac3_->bitrate;
        facts.samplesPerFrame = 1536;
        facts.frameBytes = ac3_->frameBytes;
        return facts;
    }
    // ADPCM: the largest block at which every block starts with a header; stereo before mono, as a
    // stereo header also passes for a mono one.
    for (size_t step = kBlockSizesTried; step-- > 0;) {
        const uint64_t tried = adpcmTried_[step];
        if (tried < kAdpcmLeastBlocks)
            continue;
        for (Adpcm kind : {MsStereo, MsMono, ImaStereo, ImaMono}) {
            if (static_cast<double>(adpcmFits_[kind][step]) < kAdpcmFitShare * static_cast<double>(tried))
                continue;
            const auto block = static_cast<uint16_t>(firstSize_ >> step);
            const bool ms = kind == MsMono || kind == MsStereo;
            facts.kind = ms ? SoundKind::MsAdpcm : SoundKind::ImaAdpcm;
            facts.channels = kind == MsStereo || kind == ImaStereo ? 2 : 1;
            facts.blockAlign = block;
            facts.samplesPerBlock = ms ? (block - 7u * facts.channels) * 2u / facts.channels + 2u
                                       : (block - 4u * facts.channels) * 2u / facts.channels + 1u;
            return facts;
        }
    }
    // Plain samples: the first shape in which the sound is smooth.
    if (bytesSeen_ < kLeastPcmBytes)
        return facts;
    if (!anyNonZero_) {
        facts.kind = SoundKind::Pcm;
        facts.channels = 1;
        facts.bitsPerSample = 16;
        facts.silent = true;
        return facts;
    }
    // Two channels alike in every frame play as one, but take twice the bytes.
    const bool alike16 = pairsSeen_ != 0 && pairsAlike_ == pairsSeen_;
    const bool alike8 = pairsSeen_ != 0 && bytePairsAlike_ == 2 * pairsSeen_;
    // 8-bit samples are unsigned, about 128; 16-bit ones are signed, and their high bytes about 0
    // and 255. A wrong one can look smooth too: a quiet 8-bit sound read as 16-bit only jumps
    // where it crosses its middle.
    const bool eightBit = static_cast<double>(unsignedCentre_) > 0.5 * static_cast<double>(bytesSeen_);
    const std::array<Shape, 2> shapes =
        eightBit ? std::array{Pcm8Mono, Pcm8Stereo} : std::array{Pcm16Mono, Pcm16Stereo};
    for (Shape shape : shapes) {
        const bool alike = eightBit ? alike8 : alike16;
        if ((shape == shapes[0] && alike) || farDistance_[shape] <= 0 ||
            nearDistance_[shape] >= kSmoothness * farDistance_[shape])
            continue;
        facts.kind = SoundKind::Pcm;
        facts.channels = shape == Pcm16Stereo || shape == Pcm8Stereo ? 2 : 1;
        facts.bitsPerSample = eightBit ? 8 : 16;
        return facts;
    }
    return facts;
}

} // namespace clipwright::codec
