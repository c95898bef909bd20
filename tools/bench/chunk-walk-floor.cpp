// The least work any in-place repair of a camera recording must do: read each chunk's id, size
// and first four payload bytes, one 12-byte read per chunk, from the first chunk to the end.
// The benchmark compares the real repair's time with this floor.
#include "avi/LittleEndian.h"

#include <cstdint>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: chunk-walk-floor RECORDING\n");
        return 2;
    }
    int fd = ::open(argv[1], O_RDONLY);
    if (fd < 0) {
        std::perror(argv[1]);
        return 1;
    }
    uint64_t position = 2060;
    uint64_t chunks = 0;
    uint64_t keyFrames = 0;
    uint8_t header[12];
    while (::pread(fd, header, sizeof header, static_cast<off_t>(position)) ==
           static_cast<ssize_t>(sizeof header)) {
        uint32_t size = clipwright::le::ReadU32(header + 4);
        keyFrames += clipwright::le::ReadU32(header + 8) == 0x00010000u ? 1u : 0u;
        ++chunks;
        position += uint64_t{8} + size;
    }
    ::close(fd);
    std::printf("%llu chunks, %llu key frames\n", static_cast<unsigned long long>(chunks),
                static_cast<unsigned long long>(keyFrames));
    return 0;
}
