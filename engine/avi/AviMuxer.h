// Writes a rebuilt recording as a new AVI 1.0 file: an MPEG-4 video stream ('DX50') and an MS-ADPCM
// audio stream (8000 Hz, mono), each created when its first chunk arrives, numbered in that order.
//
// Layout of a file it writes:
//   RIFF 'AVI '
//     LIST 'hdrl'  avih, one LIST 'strl' (strh, strf) per stream in creation order
//     JUNK         up to offset 2048: the header region is fixed and rewritten when the file is
//                  finished (a stream may be created after the other stream's chunks)
//     LIST 'movi'  at offset 2048: one chunk per frame or audio block in call order ('00dc' video,
//                  '01wb' audio, or the other way round), a pad byte after each odd payload
//     idx1         one entry per chunk: offsets count from the 'movi' word, sizes are payload sizes
//
// - The first video frame of a file is preceded by an empty video chunk with flags 0: the file's
//   video starts one frame late, as the camera's rebuilt recordings always have.
// - An odd video frame is stored one zero byte longer; its chunk and index entry give the even size.
// - strh dwLength counts chunks for video and whole 256-byte blocks for audio; dwSuggestedBufferSize
//   is the stream's largest chunk; strh dwFlags is 0.
// - Until it is finished the file carries RIFF and movi sizes of 0 (unfinished).
// - The file, with the index it gets when finished, stays below 2 GiB: a write that would make it
//   reach that size is refused and nothing of it is written.
// - After the first failed write every further write is refused; Finish still writes the index
//   and headers of what was written, unless the failure lost data already handed to the system.
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <sys/types.h>
#include <vector>

#include "avi/CameraLayout.h"
#include "avi/FourCC.h"

namespace clipwright {

enum class FrameKind { Key, Delta };

enum class MuxerFailure {
    None,
    SizeLimit, // the file, with its index, would have reached 2 GiB
    System,    // the system refused an operation; SystemError() holds its errno
};

class AviMuxer {
public:
    static constexpr mode_t kDefaultFileMode = 0666; // before the umask
    // Largest file written, plus one: AVI 1.0 sizes are read as signed 32-bit.
    static constexpr uint64_t kSizeLimit = uint64_t{1} << 31;

    AviMuxer();
    // An output that was never finished is closed as it stands, unfinished.
    ~AviMuxer();
    AviMuxer(const AviMuxer&) = delete;
    AviMuxer& operator=(const AviMuxer&) = delete;

    // Frame size from the resolution code, and a rate of whole frames per second. The video stream
    // takes the values set when its first frame arrives.
    void SetImageFormat(ResolutionCode code, uint32_t framesPerSecond);

    // Creates the file, or empties an existing one, never through a symbolic link. False when the
    // file could not be created or its first bytes not written.
    bool Open(const std::string& path, mode_t mode = kDefaultFileMode);

    // `data` holds `size` bytes of one MPEG-4 frame.
    bool WriteVideoFrame(const uint8_t* data, uint32_t size, FrameKind kind);
    // An empty frame: players show the frame before it again.
    bool WriteRepeatFrame(FrameKind kind);
    bool WriteAudioBlock(const uint8_t* data, uint32_t size);

    // Writes index and headers, syncs the file to the disk and closes it. True when the file is
    // complete: every write and the finishing succeeded. Does nothing when no output is open.
    bool Finish();

    bool IsOpen() const { return fd_ >= 0; }
    // Whether the opening, a write or the finishing of the current (or last) output failed.
    bool Failed() const { return failure_ != MuxerFailure::None; }
    // The last finished output came out whole; false while one is open.
    bool Complete() const { return complete_; }
    MuxerFailure Failure() const { return failure_; }
    // The errno of a MuxerFailure::System, 0 otherwise.
    int SystemError() const { return systemError_; }

    // For tests: a lower limit than kSizeLimit for the open output, so that it can be reached
    // without writing gigabytes. False when no output is open, or the file already reaches it.
    bool LowerSizeLimit(uint64_t limit);

private:
    struct Stream {
        bool created = false;
        uint32_t number = 0; // in creation order: the first two digits of its chunk ids
        FourCC chunkId;
        uint32_t chunks = 0;
        uint64_t bytes = 0; // payload bytes
        uint32_t largestChunk = 0;
    };

    // The video settings a stream carries: those in force when it was created.
    struct VideoSettings {
        uint32_t rate = 0; // frames per second x 1000
        int32_t width = 0;
        int32_t height = 0;
    };

    // One idx1 entry, kept in memory until the file is finished.
    struct IndexEntry {
        FourCC chunkId;
        uint32_t flags;
        uint32_t moviOffset;
        uint32_t size;
    };

    // The single place where the output file is created.
    bool CreateFile(const std::string& path, mode_t mode);
    void CloseUnfinished();

    void CreateStream(Stream& stream);
    // `storedSize` (at least `size`) is the payload the chunk gives: zeros follow the data up to it.
    bool WriteChunk(Stream& stream, const uint8_t* data, uint32_t size, uint64_t storedSize, uint32_t flags);
    uint64_t FinalSize(uint64_t moviEnd, uint64_t indexEntries) const;
    void Fail(MuxerFailure failure, int systemError);

    // Bytes are gathered in `pending_`, which belongs at file offset `pendingAt_`, and written in
    // large blocks: one system call per chunk would cost more than copying the bytes.
    uint64_t End() const { return pendingAt_ + pending_.size(); }
    void Put(const uint8_t* data, size_t size);
    void PutU16(uint16_t value);
    void PutU32(uint32_t value);
    void PutI16(int16_t value);
    void PutI32(int32_t value);
    void PutFourCC(FourCC code);
    void PutZeros(size_t count);
    // Returns the file offset of the chunk's size field, for EndChunk.
    uint64_t BeginChunk(FourCC id);
    uint64_t BeginList(FourCC listType);
    // Pads the chunk to an even size and fills its size field in.
    void EndChunk(uint64_t sizeField);
    bool Flush();
    bool WriteAt(uint64_t offset, const uint8_t* data, size_t size);

    // The header region, finished (with the file's final size) or not (0).
    void PutHeaderRegion(uint64_t finalSize);
    void PutMainHeader();
    void PutVideoStreamList();
    void PutAudioStreamList();
    void PutIndex();
    void FinishFile();

    VideoSettings videoSettings_;
    VideoSettings videoStreamSettings_;

    int fd_ = -1;
    std::string path_;
    std::vector<uint8_t> pending_;
    uint64_t pendingAt_ = 0;
    uint64_t dataEnd_ = 0; // end of the movi list
    uint64_t sizeLimit_ = kSizeLimit;
    Stream video_;
    Stream audio_;
    uint32_t streamCount_ = 0;
    std::deque<IndexEntry> index_; // grows by blocks: 16 bytes an entry, never twice that

    MuxerFailure failure_ = MuxerFailure::None;
    int systemError_ = 0;
    bool dataLost_ = false; // bytes handed to the system were refused: the file cannot be finished
    bool complete_ = false;
};

} // namespace clipwright
