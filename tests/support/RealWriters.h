// AVIs written at test time by other recorders installed from Debian (ffmpeg, GStreamer's avimux,
// MEncoder): finalised ones, and ones cut off the ways these writers leave them — killed while
// writing, written to a pipe, cut short. Small (320x240, 15 fps, 4 s) so the whole set takes
// seconds to make.
#pragma once

#include "avi/FourCC.h"

#include <cstdint>
#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

namespace clipwright::test {

enum class Writer { Ffmpeg, GStreamer, MEncoder };

enum class Condition {
    Finalised,   // closed by its writer: a healthy file
    PipeWritten, // written whole to a pipe: the header keeps its placeholders
    Cut,         // a pipe-written file that ends early
    Killed,      // the writer died while writing a regular file
};

struct RealRecording {
    std::string name; // the file's name without ".avi": writer, codecs and how it was made
    std::filesystem::path path;
    Writer writer = Writer::Ffmpeg;
    std::string videoCodec; // as ffprobe names them
    std::string audioCodec; // empty for video only
    Condition condition = Condition::Finalised;

    bool Healthy() const { return condition == Condition::Finalised; }
};

// Every recording the writers below make, named and described before any is written.
std::vector<RealRecording> PlannedRecordings();

// ffmpeg, per pair of codecs: finalised; killed by a file size limit at a multiple of 256 KiB (where
// its write buffer flushes, as a killed ffmpeg leaves it); written to a pipe; and that pipe file cut
// at an odd offset inside a chunk and inside a chunk header.
std::vector<RealRecording> WriteFfmpegRecordings(const std::filesystem::path& folder);
// ffmpeg recording from a real-time source, killed once it has flushed a first block. Nothing when
// it wrote no chunk in time (a machine too loaded to say anything about the file).
std::vector<RealRecording> WriteKilledFfmpegRecording(const std::filesystem::path& folder);
// avimux with MJPEG and PCM: finalised, written to a pipe (it cannot go back to the header), and
// that pipe file cut inside a chunk.
std::vector<RealRecording> WriteGStreamerRecordings(const std::filesystem::path& folder);
// MEncoder re-encoding an ffmpeg MJPEG file to MPEG-4 and MP3: finalised, and killed while writing.
std::vector<RealRecording> WriteMEncoderRecordings(const std::filesystem::path& folder);

// ffmpeg's AVI past 1 GiB, which it goes on in RIFF 'AVIX' parts: frames of zeros (32 MiB, one a
// second, 40 s, 32 of them in the first part), a tone all through and a tone that stops after 5 s,
// so no chunk of the third stream stands in the second part. Written where `folder` is (tmpfs makes
// it cheap) and made sparse, so a copy by CopySparse costs next to nothing.
enum class OpenDmlCondition {
    Finalised,         // two parts, closed by ffmpeg
    KilledInLastPart,  // killed inside a frame 100 MiB into the second part
    KilledInFirstIdx1, // killed while closing the first part, 8 bytes into an entry of its idx1
    // Killed while closing the last part, inside its ix01: the first stream's super index has an
    // entry for it, the others do not.
    KilledClosingLastPart,
    // Killed inside a frame past 4.5 GiB, in the fifth part: 150 s of the same, four parts closed.
    KilledPastFourGiB,
};
std::filesystem::path WriteOpenDmlRecording(OpenDmlCondition condition, const std::filesystem::path& folder);
// The first chunk with `id` at or behind `from` and its size, walking into every list and part.
std::pair<uint64_t, uint32_t> ChunkBehind(const std::filesystem::path& file, uint64_t from, FourCC id);
// A folder on tmpfs where there is one, the build's scratch folder otherwise.
std::filesystem::path TmpfsOrScratch();
void CopySparse(const std::filesystem::path& from, const std::filesystem::path& to);

// A video codec ffmpeg writes into AVI, with a key frame every 12 frames and B-frames where the
// codec has them: `options` are its encoder's.
struct FfmpegVideoCodec {
    std::string name;
    std::string options;
};
inline void PrintTo(const FfmpegVideoCodec& codec, std::ostream* out) {
    *out << codec.name;
}
// Every one this machine's ffmpeg encodes whose key frames the repair reads, all-intra ones included.
std::vector<FfmpegVideoCodec> FfmpegVideoCodecs();
// 3 s of ffmpeg's test picture at 176x144 and 25 fps, video only, finalised by ffmpeg.
void WriteFfmpegVideo(const FfmpegVideoCodec& codec, const std::filesystem::path& file);

// All of the above but the OpenDML ones, written once into `folder` and found there by later test
// processes of the same recipes; callers copy a recording before changing it.
std::vector<RealRecording> RealRecordings(const std::filesystem::path& folder);

} // namespace clipwright::test
