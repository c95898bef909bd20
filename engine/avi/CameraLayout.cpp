#include "avi/CameraLayout.h"

#include "avi/ChunkWalk.h"

namespace clipwright {

const MediaIds& CameraIndexedIds() {
    using namespace fourcc;
    static const MediaIds ids({kVideo00db, kVideo00dc, kVideo01db, kVideo01dc, kAudio00wb, kAudio01wb});
    return ids;
}

const MediaIds& CameraCopiedIds() {
    using namespace fourcc;
    static const MediaIds ids({kVideo00db, kVideo00dc, kAudio01wb});
    return ids;
}

bool IsCameraVideo(const FourCC& id) {
    using namespace fourcc;
    return id == kVideo00db || id == kVideo00dc || id == kVideo01db || id == kVideo01dc;
}

} // namespace clipwright
