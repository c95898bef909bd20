// Writes a rebuilt recording as a new AVI file: a video stream and an audio stream, each created
// when its first chunk arrives, numbered in that order. Their formats are the camera's (MPEG-4
// 'DX50', MS-ADPCM 8000 Hz mono) unless set otherwise (StreamFormats.h).
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
// A file that would not stay below the part size (kPartSize, 1 GiB) with its indexes goes on in
// OpenDML form, in parts that each stay below that size:
//   RIFF 'AVI '    as above, but its movi list ends with one standard index 'ix##' per stream; its
//                  idx1 lists the chunks of this first part only
//   RIFF 'AVIX'    LIST 'movi': the chunks that follow, then one 'ix##' per stream; as many of
//                  these parts as the file needs
//   The same 2048-byte header region then also holds an 'indx' after each stream's strf, and LIST
//   'odml' (dmlh: dwTotalFrames, all video chunks, then 244 zero bytes) at the end of hdrl; the JUNK
//   shrinks to what is left. Each indx has all of its kSuperIndexSlots entries (offset and size of
//   one of the stream's ix##, and its duration), unused ones zero: with two streams 26 bytes of
//   JUNK are left.
//   - ix##: qwBaseOffset is the offset of the part's 'RIFF'; an entry gives the payload's offset from
//     it and the payload size, with bit 31 set for a video chunk that is not a key frame. A stream
//     without a chunk in a part gets an empty ix## there; one created after the first part gets an
//     empty one for each part before, so that every stream's indx lists every part.
//   - avih dwTotalFrames counts the first part's video chunks; strh dwLength the whole stream.
//   - The part size counts the ix## a part closes with, the first part's too: a file that stays
//     below it with them is the AVI 1.0 file above, byte for byte, as they are written only when a
//     further part follows.
//   - A part's first chunk is taken whatever its size, as long as the part stays below 2 GiB.
//   - Parts are larger than kPartSize when the expected size (SetExpectedSize) needs more parts
//     than the indx has room for. A chunk that would make even a part of its own reach 2 GiB, and
//     a part past the last slot, are refused with EFBIG.
//
// - With the camera's video format, the first video frame of a file is preceded by an empty video
//   chunk with flags 0: the file's video starts one frame late, as the camera's rebuilt recordings
//   always have.
// - An odd video frame is stored one zero byte longer; its chunk and index entry give the even size.
// - strh dwLength counts chunks for video, and for audio whole units of its sample size (the
//   camera's 256-byte blocks), or chunks when it has none; dwSuggestedBufferSize is the stream's
//   largest chunk; strh dwFlags is 0.
// - Until it is finished the file carries first-part RIFF and movi sizes of 0 (unfinished).
// - Memory: 8 bytes an entry for the chunks of the part being written, and the super indexes.
// - A refused write writes nothing of its chunk. After the first failed write every further write
//   is refused; Finish still writes the indexes and headers of what was written, unless the
//   failure lost data already handed to the system.
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <string>
#include <sys/types.h>
#include <vector>

#include "avi/CameraLayout.h"
#include "avi/FourCC.h"
#include "avi/StreamFormats.h"

namespace clipwright {

enum class FrameKind { Key, Delta };

enum class MuxerFailure {
    None,
    System, // the system refused an operation, or a chunk fits no part; SystemError() holds its errno
};

class AviMuxer {
public:
    static constexpr mode_t kDefaultFileMode = 0666; // before the umask
    // Each RIFF part, with its indexes, stays below this size: readers expect parts of 1 GiB.
    static constexpr uint64_t kPartSize = uint64_t{1} << 30;
    // No part reaches this size: RIFF sizes are read as signed 32-bit.
    static constexpr uint64_t kLargestPart = uint64_t{1} << 31;
    // Parts each stream's indx lists: as many as the header region holds with two streams.
    static constexpr uint32_t kSuperIndexSlots = 42;

    AviMuxer();
    // An output that was never finished is closed as it stands, unfinished.
    ~AviMuxer();
    AviMuxer(const AviMuxer&) = delete;
    AviMuxer& operator=(const AviMuxer&) = delete;

    // The camera's video: frame size from the resolution code, and a rate of whole frames per
    // second. The video stream takes the format set when its first frame arrives.
    void SetImageFormat(ResolutionCode code, uint32_t framesPerSecond);
    void SetVideoFormat(const VideoStreamFormat& format) { videoFormat_ = format; }
    // Taken by the audio stream when its first block arrives.
    void SetAudioFormat(const AudioStreamFormat& format) { audioFormat_ = format; }

    // The size the caller expects the output to reach (e.g. the recording it is rebuilt from):
    // parts grow beyond kPartSize when the file would need more than kSuperIndexSlots of them.
    // Taken by each output opened afterwards.
    void SetExpectedSize(uint64_t bytes) { expectedSize_ = bytes; }

    // Creates the file, or empties an existing one, never through a symbolic link. False when the
    // file could not be created or its first bytes not written.
    bool Open(const std::string& path, mode_t mode = kDefaultFileMode);

    // `data` holds `size` bytes of one video frame.
    bool WriteVideoFrame(const uint8_t* data, uint32_t size, FrameKind kind);
    // An empty frame: players show the frame before it again.
    bool WriteRepeatFrame(FrameKind kind);
    // One audio chunk: a block of the camera's sound, or whatever a chunk of the format holds.
    bool WriteAudioBlock(const uint8_t* data, uint32_t size);

    // Writes indexes and headers, syncs the file to the disk and closes it. True when the file is
    // complete: every write and the finishing succeeded. Does nothing when no output is open.
    bool Finish();
    // Closes the output unfinished, for a writer that is about to remove it.
    void Abandon() { CloseUnfinished(); }

    bool IsOpen() const { return fd_ >= 0; }
    // Whether the opening, a write or the finishing of the current (or last) output failed.
    bool Failed() const { return failure_ != MuxerFailure::None; }
    // The last finished output came out whole; false while one is open.
    bool Complete() const { return complete_; }
    MuxerFailure Failure() const { return failure_; }
    // The errno of a MuxerFailure::System, 0 otherwise.
    int SystemError() const { return systemError_; }

    // For tests: the part size of every output opened afterwards in this process, so that a few
    // MiB make several parts; 0 gives back kPartSize.
    static void SetPartSizeForTests(uint64_t size);
    // kPartSize, or the size set for tests: other writers of OpenDML files follow it too.
    static uint64_t PartSize();

private:
    struct SuperIndexEntry {
        uint64_t offset = 0; // of the ix## chunk
        uint32_t size = 0;   // of the ix## chunk, header included
        uint32_t duration = 0;
    };

    struct Stream {
        bool created = false;
        uint32_t number = 0; // in creation order: the first two digits of its chunk ids
        FourCC chunkId;
        uint32_t chunks = 0;
        uint64_t bytes = 0; // payload bytes
        uint32_t largestChunk = 0;
        // In the part being written.
        uint32_t partChunks = 0;
        uint64_t partBytes = 0;
        // Its standard indexes, one for each part closed.
        uint32_t parts = 0;
        std::array<SuperIndexEntry, kSuperIndexSlots> superIndex{};
    };

    // One chunk of the part being written, kept in memory until the part is closed: it becomes an
    // idx1 entry (in the first part) and an ix## entry (when the file has further parts). Eight
    // bytes, as fresh memory costs more than the copy for a file of small chunks: a part stays below
    // 2 GiB, so the top bits of its offset and size are free for the stream and the key-frame flag.
    class IndexEntry {
    public:
        IndexEntry(bool audio, bool keyFrame, uint64_t moviOffset, uint32_t size)
            : offset_(static_cast<uint32_t>(moviOffset) | (audio ? kTopBit : 0)),
              size_(size | (keyFrame ? kTopBit : 0)) {}
        bool Audio() const { return (offset_ & kTopBit) != 0; }
        bool KeyFrame() const { return (size_ & kTopBit) != 0; }
        uint32_t MoviOffset() const { return offset_ & ~kTopBit; } // from the part's 'movi' word
        uint32_t Size() const { return size_ & ~kTopBit; }

    private:
        static constexpr uint32_t kTopBit = 0x80000000u;
        uint32_t offset_;
        uint32_t size_;
    };

    // The single place where the output file is created.
    bool CreateFile(const std::string& path, mode_t mode);
    void CloseUnfinished();

    void CreateStream(Stream& stream);
    // `storedSize` (at least `size`) is the payload the chunk gives: zeros follow the data up to it.
    bool WriteChunk(Stream& stream, const uint8_t* data, uint32_t size, uint64_t storedSize, uint32_t flags);
    // The current part's size once closed, were its movi data to end at `moviEnd` with `entries`
    // chunks: its indexes included.
    uint64_t ClosedPartSize(uint64_t moviEnd, uint64_t entries) const;
    // Whether a chunk of `chunkBytes` (headers included) in `entries` chunks has room in the current
    // part; when not, whether it gets a part of its own.
    bool FitsCurrentPart(uint64_t chunkBytes, uint64_t entries) const;
    bool FitsNextPart(uint64_t chunkBytes, uint64_t entries) const;
    // Closes the current part with its indexes and begins the next.
    bool NextPart();
    void ClosePart();
    void Fail(MuxerFailure failure, int systemError);

    // Bytes are gathered in `pending_`, which belongs at file offset `pendingAt_`, and written in
    // large blocks: one system call per chunk would cost more than copying the bytes.
    uint64_t End() const { return pendingAt_ + pendingBytes_; }
    void Put(const uint8_t* data, size_t size);
    // A whole chunk: header, `size` bytes of data, zeros up to `storedSize`, and the pad byte.
    void PutChunk(FourCC id, const uint8_t* data, uint32_t size, uint32_t storedSize);
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

    // The header region, finished (with the first part's sizes) or not (0).
    void PutHeaderRegion(bool finished);
    void PutMainHeader(bool openDml);
    void PutVideoStreamList(bool openDml);
    void PutAudioStreamList(bool openDml);
    void PutSuperIndex(const Stream& stream);
    // The audio stream's length in its strh units.
    uint32_t AudioUnits(uint64_t chunks, uint64_t bytes) const;
    void PutOpenDmlHeader();
    void PutIndex();
    // The ix## of each stream for the current part, and empty ones for parts a stream missed.
    void PutStandardIndexes();
    void PutStandardIndex(Stream& stream, bool withChunks);
    void FinishFile();

    // The formats set, and those the streams carry: in force when each was created.
    VideoStreamFormat videoFormat_;
    VideoStreamFormat videoStreamFormat_;
    AudioStreamFormat audioFormat_ = CameraAudioFormat();
    AudioStreamFormat audioStreamFormat_ = CameraAudioFormat();

    int fd_ = -1;
    std::string path_;
    std::vector<uint8_t> pending_; // a whole write block once open, of which pendingBytes_ are used
    size_t pendingBytes_ = 0;
    uint64_t pendingAt_ = 0;
    uint64_t dataEnd_ = 0; // end of the current part's chunks
    uint64_t expectedSize_ = 0;
    uint64_t partLimit_ = kPartSize;
    // The current part: where its 'RIFF' and its 'movi' word stand, and its size fields.
    uint64_t partStart_ = 0;
    uint64_t moviWord_ = 0;
    uint64_t riffSizeField_ = 0;
    uint64_t moviSizeField_ = 0;
    uint32_t closedParts_ = 0; // more than 0: the file is in OpenDML form
    // The first part, once closed.
    uint64_t firstPartEnd_ = 0;
    uint64_t firstMoviEnd_ = 0;
    uint32_t firstPartVideoChunks_ = 0;
    Stream video_;
    Stream audio_;
    uint32_t streamCount_ = 0;
    std::deque<IndexEntry> index_; // of the current part; grows by blocks: 8 bytes an entry

    MuxerFailure failure_ = MuxerFailure::None;
    int systemError_ = 0;
    bool dataLost_ = false; // bytes handed to the system were refused: the file cannot be finished
    bool complete_ = false;
};

} // namespace clipwright
