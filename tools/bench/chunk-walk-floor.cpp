// The plainest walk an in-place repair could make: each chunk's id, size and first four payload
// bytes, one 12-byte read per chunk, from the first chunk to the end. The benchmark compares the
// real repair's time with this floor; a repair that reads several headers at once may beat it.
//   chunk-walk-floor RECORDING          a camera recording: chunks from 2060 on, no pad bytes
//   chunk-walk-floor --riff RECORDING   any AVI: chunks from the RIFF header on, padded to even
//                                       sizes, entering movi lists, 'rec ' groups and AVIX parts
#include "avi/FourCC.h"
#include "avi/LittleEndian.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using namespace clipwright;

constexpr uint64_t kCameraFirstChunk = 2060;
constexpr uint64_t kRiffFirstChunk = 12; // behind 'RIFF', its size and 'AVI '

struct Tally {
    uint64_t chunks = 0;
    uint64_t keyFrames = 0;
};

Tally WalkCamera(int fd) {
    Tally tally;
    uint64_t position = kCameraFirstChunk;
    uint8_t header[12];
    while (::pread(fd, header, sizeof header, static_cast<off_t>(position)) ==
           static_cast<ssize_t>(sizeof header)) {
        uint32_t size = le::ReadU32(header + 4);
        tally.keyFrames += le::ReadU32(header + 8) == 0x00010000u ? 1u : 0u;
        ++tally.chunks;
        position += uint64_t{8} + size;
    }
    return tally;
}

bool IsEntered(const FourCC& id, const FourCC& type) {
    return (id == fourcc::kList && (type == fourcc::kMovi || type == fourcc::kRec)) ||
           (id == fourcc::kRiff && type == fourcc::kAvix);
}

// Media chunks only: the ids of streams ('00dc', '01wb'), whole within the file.
Tally WalkRiff(int fd, uint64_t fileSize) {
    Tally tally;
    uint64_t position = kRiffFirstChunk;
    uint8_t header[12];
    while (::pread(fd, header, sizeof header, static_cast<off_t>(position)) ==
           static_cast<ssize_t>(sizeof header)) {
        const FourCC id = FourCC::FromBytes(header);
        const uint32_t size = le::ReadU32(header + 4);
        if (IsEntered(id, FourCC::FromBytes(header + 8))) {
            position += sizeof header;
            continue;
        }
        const uint64_t end = position + 8 + size;
        if (end > fileSize)
            break;
        const auto& bytes = id.Bytes();
        if (bytes[0] >= '0' && bytes[0] <= '9' && bytes[1] >= '0' && bytes[1] <= '9')
            ++tally.chunks;
        position = end + (size & 1u);
    }
    return tally;
}

} // namespace

int main(int argc, char** argv) {
    const bool riff = argc == 3 && std::strcmp(argv[1], "--riff") == 0;
    if (argc != 2 && !riff) {
        std::fprintf(stderr, "usage: chunk-walk-floor [--riff] RECORDING\n");
        return 2;
    }
    const char* path = argv[argc - 1];
    int fd = ::open(path, O_RDONLY);
    struct stat status {};
    if (fd < 0 || ::fstat(fd, &status) != 0) {
        std::perror(path);
        return 1;
    }
    const Tally tally = riff ? WalkRiff(fd, static_cast<uint64_t>(status.st_size)) : WalkCamera(fd);
    ::close(fd);
    if (riff)
        std::printf("%llu chunks\n", static_cast<unsigned long long>(tally.chunks));
    else
        std::printf("%llu chunks, %llu key frames\n", static_cast<unsigned long long>(tally.chunks),
                    static_cast<unsigned long long>(tally.keyFrames));
    return 0;
}
