// A healthy recording of the same device, whose stream headers are written over a recording that
// lost its own: read once, and judged against what the lost recording's chunks hold.
#pragma once

#include "avi/AviStructure.h"
#include "avi/StreamFormats.h"
#include "codec/CameraSettingsDetector.h"
#include "codec/KeyFrames.h"

#include <optional>
#include <string>

namespace clipwright {

// Why a reference cannot stand for the lost header.
enum class ReferenceMisfit {
    None,
    Unreadable,  // `fileCause`
    NotAvi,      // no RIFF AVI form with a header a reader can follow
    NoVideo,     // its first stream is no video stream
    VideoCodec,  // its video is of another codec than the chunks
    FrameSize,   // its frame size is not the one the chunks' video says
    NoSound,     // the chunks hold sound, and its second stream is no sound stream
    SoundFormat, // its sound is of another format, or shape, than the chunks'
};

struct ReferenceRecording {
    std::string path;
    int fileCause = 0;
    std::optional<AviStructure> structure;
};

ReferenceRecording ReadReference(const std::string& path);

// What the rebuild writes with a reference: its streams' headers, with the lengths of the data found.
struct ReferenceStreams {
    VideoStreamFormat video;
    std::optional<AudioStreamFormat> audio;
    codec::VideoCoding coding = codec::VideoCoding::Unread;
};

ReferenceMisfit JudgeReference(const ReferenceRecording& reference, const DetectedSettings& detected);
// Only for a reference that fits.
ReferenceStreams StreamsOfReference(const ReferenceRecording& reference);

} // namespace clipwright
