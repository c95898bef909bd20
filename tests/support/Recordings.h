// Camera recordings for the engine's tests, made with the generator from real payloads.
#pragma once

#include "CameraSequence.h"
#include "MediaPayloads.h"
#include "RecordingOptions.h"
#include "RecordingWriter.h"

#include <filesystem>

namespace clipwright::test {

// Payloads are loaded once per resolution and kept for the whole test run.
const recgen::MediaPayloads& PayloadsFor(uint32_t width, uint32_t height);

struct CameraRecordingPlan {
    recgen::HeaderOptions header;
    recgen::CameraSequenceOptions sequence;
    recgen::FinishOptions finish = recgen::FinishOptions::CutOff();
};

// Writes a camera recording (the header's width and height choose the payloads; a size no camera
// writes falls back to 640x480 payloads).
recgen::RecordingSummary WriteCameraRecording(const std::filesystem::path& path,
                                              const CameraRecordingPlan& plan);

} // namespace clipwright::test
