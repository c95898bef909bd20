#include "Recordings.h"

#include <map>
#include <memory>
#include <mutex>

namespace clipwright::test {

const recgen::MediaPayloads& PayloadsFor(uint32_t width, uint32_t height) {
    static std::mutex guard;
    static std::map<std::pair<uint32_t, uint32_t>, std::unique_ptr<recgen::MediaPayloads>> loaded;
    bool known =
        (width == 640 && height == 480) || (width == 320 && height == 240) || (width == 160 && height == 112);
    if (!known) {
        width = 640;
        height = 480;
    }
    std::lock_guard lock(guard);
    auto& slot = loaded[{width, height}];
    if (!slot)
        slot = std::make_unique<recgen::MediaPayloads>(recgen::LoadPayloads(width, height));
    return *slot;
}

recgen::RecordingSummary WriteCameraRecording(const std::filesystem::path& path,
                                              const CameraRecordingPlan& plan) {
    const recgen::MediaPayloads& payloads = PayloadsFor(plan.header.width, plan.header.height);
    recgen::RecordingWriter writer(path, plan.header);
    recgen::CameraSequenceOptions sequence = plan.sequence;
    sequence.frameScale = plan.header.videoScale != 0 ? plan.header.videoScale : 1000;
    sequence.frameRate = plan.header.videoRate != 0 ? plan.header.videoRate : 15000;
    recgen::CameraSequence chunks(payloads, sequence);
    recgen::AppendCameraChunks(writer, chunks);
    return writer.Finish(plan.finish);
}

} // namespace clipwright::test
