#include "repair/ReferenceRecording.h"

#include "avi/LittleEndian.h"
#include "platform/ReadOnlyFile.h"

namespace clipwright {

namespace {

// The header region of a rebuilt file holds a sound format of the camera's length at most.
constexpr size_t kLongestSoundFormat = 50;

const StreamInfo* StreamAt(const AviStructure& structure, size_t number, StreamKind kind) {
    if (number >= structure.streams.size() || structure.streams[number].kind != kind)
        return nullptr;
    return &structure.streams[number];
}

bool SameCoding(codec::VideoKind kind, codec::VideoCoding coding) {
    switch (kind) {
    case codec::VideoKind::Mpeg4Visual:
        return coding == codec::VideoCoding::Mpeg4Visual;
    case codec::VideoKind::H264:
        return coding == codec::VideoCoding::H264;
    case codec::VideoKind::Mjpeg:
        return coding == codec::VideoCoding::Intra;
    case codec::VideoKind::Unknown:
        break;
    }
    return true; // the chunks say nothing against it
}

bool SoundFits(const StreamInfo& audio, const codec::SoundFacts& sound) {
    if (audio.format.size() < 16 || audio.format.size() > kLongestSoundFormat)
        return false;
    const uint16_t bits = le::ReadU16(audio.format, 14);
    switch (sound.kind) {
    case codec::SoundKind::Pcm:
        return audio.formatTag == kWavePcm && audio.channels == sound.channels &&
               (sound.silent || bits == sound.bitsPerSample);
    case codec::SoundKind::MsAdpcm:
        return audio.formatTag == kWaveMsAdpcm && audio.channels == sound.channels &&
               audio.blockAlign == sound.blockAlign;
    case codec::SoundKind::ImaAdpcm:
        return audio.formatTag == kWaveImaAdpcm && audio.channels == sound.channels &&
               audio.blockAlign == sound.blockAlign;
    case codec::SoundKind::Mpeg:
        return (audio.formatTag == kWaveMpegLayer3 || audio.formatTag == kWaveMpeg) &&
               audio.sampleRate == sound.sampleRate && audio.channels == sound.channels;
    case codec::SoundKind::Ac3:
        return audio.formatTag == kWaveAc3 && audio.sampleRate == sound.sampleRate;
    case codec::SoundKind::Unknown: // the reference is what says it
    case codec::SoundKind::None:
        break;
    }
    return true;
}

} // namespace

ReferenceRecording ReadReference(const std::string& path) {
    ReferenceRecording reference;
    reference.path = path;
    ReadOnlyFile file;
    FileError error;
    if (!file.Open(path, error)) {
        reference.fileCause = error.cause;
        return reference;
    }
    try {
        reference.structure = ReadAviStructure(file, file.Length());
    } catch (const FileError& readError) {
        reference.fileCause = readError.cause;
    }
    return reference;
}

ReferenceMisfit JudgeReference(const ReferenceRecording& reference, const DetectedSettings& detected) {
    if (reference.fileCause != 0)
        return ReferenceMisfit::Unreadable;
    if (!reference.structure)
        return ReferenceMisfit::NotAvi;
    // The rebuild's chunks are '00d?' video and '01wb' sound: so must the reference's streams be.
    const StreamInfo* video = StreamAt(*reference.structure, 0, StreamKind::Video);
    if (video == nullptr)
        return ReferenceMisfit::NoVideo;
    const codec::VideoFacts& found = detected.videoFacts;
    if (!SameCoding(found.kind, codec::VideoCodingOf(video->compression, video->handler)))
        return ReferenceMisfit::VideoCodec;
    if (found.width != 0 && (found.width != video->width || found.height != video->height))
        return ReferenceMisfit::FrameSize;
    if (detected.soundFacts.kind == codec::SoundKind::None)
        return ReferenceMisfit::None;
    const StreamInfo* audio = StreamAt(*reference.structure, 1, StreamKind::Audio);
    if (audio == nullptr)
        return ReferenceMisfit::NoSound;
    if (!SoundFits(*audio, detected.soundFacts))
        return ReferenceMisfit::SoundFormat;
    return ReferenceMisfit::None;
}

ReferenceStreams StreamsOfReference(const ReferenceRecording& reference) {
    ReferenceStreams streams;
    const StreamInfo& video = reference.structure->streams[0];
    streams.video.handler = video.handler;
    streams.video.compression = video.compression;
    streams.video.width = static_cast<int32_t>(video.width);
    streams.video.height =
        video.format.size() >= 12 ? le::ReadI32(video.format, 8) : static_cast<int32_t>(video.height);
    streams.video.rate = video.rate;
    streams.video.scale = video.scale;
    if (video.format.size() >= 24) {
        streams.video.bitCount = le::ReadU16(video.format, 14);
        streams.video.imageSize = le::ReadU32(video.format, 20);
    }
    streams.video.leadingEmptyFrame = false;
    streams.coding = codec::VideoCodingOf(video.compression, video.handler);
    if (const StreamInfo* audio = StreamAt(*reference.structure, 1, StreamKind::Audio)) {
        AudioStreamFormat format;
        format.waveFormat = audio->format;
        format.scale = audio->scale;
        format.rate = audio->rate;
        format.sampleSize = audio->sampleSize;
        format.bytesPerSecond = audio->format.size() >= 12 ? le::ReadU32(audio->format, 8) : 0;
        streams.audio = format;
    }
    return streams;
}

} // namespace clipwright
