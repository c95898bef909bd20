// Rebuilds a recording whose header block cannot be patched: the raw chunks are copied in file
// order into a brand-new AVI file through the stream writer.
#include "CAviFixer.h"

#include "ChunkReader.h"
#include "LittleEndian.h"
#include "Messages.h"
#include "OutputNaming.h"
#include "ReadAhead.h"
#include "RecordingLayout.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>
#include <optional>
#include <vector>

namespace clipwright {

namespace {

constexpr uint32_t kHighestFrameRate = 120;
constexpr size_t kHeaderLostScanBytes = 4096;
constexpr size_t kRepeatPrefixBytes = 100;

uint32_t ReadU32At(SourceFile& file, uint32_t position) {
    uint8_t bytes[4] = {};
    file.Seek(position, SeekFrom::Begin);
    file.Read(bytes, sizeof bytes);
    return le::ReadU32(bytes);
}

ResolutionCode ResolutionFromSize(uint32_t width, uint32_t height) {
    if (width == 640 && height == 480)
        return kResolutionVga;
    if (width == 320 && height == 240)
        return kResolutionQvga;
    if (width == 160 && height == 112)
        return kResolutionQqvga;
    return kResolutionUnknown;
}

// Position of the first '0','0','d' run at or after `from`, read through a fixed window, or
// nothing when the file holds none. `limit` bounds the search (0: to the end of the file).
std::optional<uint64_t> FindVideoTag(SourceFile& file, uint64_t from, uint64_t limit) {
    static constexpr uint8_t kTag[3] = {'0', '0', 'd'};
    std::array<uint8_t, kHeaderLostScanBytes> window{};
    uint64_t position = from;
    for (;;) {
        size_t wanted = window.size();
        if (limit != 0)
            wanted = static_cast<size_t>(std::min<uint64_t>(wanted, limit > position ? limit - position : 0));
        if (wanted < sizeof kTag)
            return std::nullopt;
        size_t got = file.ReadAt(position, window.data(), wanted);
        auto found = std::search(window.begin(), window.begin() + static_cast<ptrdiff_t>(got),
                                 std::begin(kTag), std::end(kTag));
        if (found != window.begin() + static_cast<ptrdiff_t>(got))
            return position + static_cast<uint64_t>(found - window.begin());
        if (got < wanted)
            return std::nullopt;
        // Windows overlap by two bytes so that a run across their border is seen.
        position += got - (sizeof kTag - 1);
    }
}

enum class CopyEnd {
    EndOfData,    // the end of the file, a zero word, an idx1 or a JUNK: the copy is whole
    UnknownTag,   // a chunk no camera writes, with more data behind it
    Implausible,  // a size that cannot be real
    OutOfMemory,  // a payload buffer could not be had
    WriterFailed, // the new file could not be written
    FileError,    // the recording could not be read; already reported
};

std::string DescribeEnd(CopyEnd end, const FourCC& tag) {
    switch (end) {
    case CopyEnd::UnknownTag:
        return "a chunk tagged " + tag.Quoted() + " that a camera does not write";
    case CopyEnd::Implausible:
        return "a chunk whose size runs far past the end of the file";
    case CopyEnd::OutOfMemory:
        return "there was not enough memory for a chunk";
    case CopyEnd::WriterFailed:
        return "the new file could not be written (is the disk full?)";
    case CopyEnd::FileError:
        return "the recording could not be read";
    case CopyEnd::EndOfData:
        break;
    }
    return "the end of the recording";
}

bool IsCopiedChunk(const FourCC& tag) {
    return tag == fourcc::kVideo00db || tag == fourcc::kVideo00dc || tag == fourcc::kAudio01wb;
}

bool EndsData(const FourCC& tag) {
    static constexpr FourCC kZeroWord;
    return tag == kZeroWord || tag == fourcc::kIdx1 || tag == fourcc::kJunk;
}

} // namespace

void CAviFixer::RebuildFile(std::string path, std::string fileName, int32_t replaceOriginal,
                            LayoutCode layout) {
    workingPath = path;
    outcome.status = FixStatus::Failed;
    const OutputNames names = MakeOutputNames(path, fileName);

    FileError openError;
    if (!sourceFile.Open(workingPath, ShareMode::DenyNone, openError)) {
        ReportFileError(openError);
        return;
    }

    // The capture settings the old header still holds, the user's answer when it does not, and
    // where the chunks begin.
    ResolutionCode resolution = kResolutionUnknown;
    uint32_t framesPerSecond = 0;
    uint64_t start = layout::kMoviList;
    try {
        uint32_t scale = ReadU32At(sourceFile, layout::kVideoScale);
        uint32_t rate = ReadU32At(sourceFile, layout::kVideoRate);
        framesPerSecond = (scale != 0 && rate != 0) ? rate / scale : 0;
        uint32_t width = ReadU32At(sourceFile, layout::kMainWidth);
        uint32_t height = ReadU32At(sourceFile, layout::kMainHeight);
        resolution = ResolutionFromSize(width, height);

        // Above 120 frames per second is no camera setting, and would overflow the writer's rate.
        if (framesPerSecond == 0 || framesPerSecond > kHighestFrameRate || resolution == kResolutionUnknown) {
            outcome.askedForImageSettings = true;
            if (notifyWindow != nullptr)
                notifyWindow->ShowProgress(false);
            if (notifyWindow == nullptr || !notifyWindow->AskImageSettings()) {
                sourceFile.Close();
                outcome.status = FixStatus::Cancelled;
                return;
            }
            notifyWindow->ShowProgress(true);
            resolution = g_resolutionChoice;
            framesPerSecond = g_frameRateChoice;
            replaceOriginal = 0;
        }

        if (layout == LayoutHeaderLost) {
            std::optional<uint64_t> found = FindVideoTag(sourceFile, 0, kHeaderLostScanBytes);
            // A header lost with more than the usual block: look on through the file.
            if (!found)
                found = FindVideoTag(sourceFile, kHeaderLostScanBytes - 2, 0);
            if (!found) {
                sourceFile.Close();
                ShowProblem(messages::NoRecordingData(), path);
                return;
            }
            start = *found;
        }
        sourceFile.Close();
    } catch (const FileError& error) {
        ReportFileError(error);
        sourceFile.Abandon();
        return;
    }

    // Naming: which file is read and where the new file goes.
    const bool replacing = replaceOriginal != 0;
    const std::string outputPath = replacing ? path : names.fixName;
    const std::string readPath = replacing ? names.temporaryName : path;
    outcome.outputPath = outputPath;
    if (replacing) {
        // Without the move the new file would be created over the recording.
        if (int moveError = MoveFileNoReplace(path, names.temporaryName)) {
            ShowProblem(messages::MoveToTemporaryNameFailed(names.temporaryName, moveError), path);
            return;
        }
    }
    auto restoreRecording = [&] {
        if (replacing)
            MoveFileNoReplace(names.temporaryName, path);
    };
    if (!sourceFile.Open(readPath, ShareMode::DenyNone, openError)) {
        ReportFileError(openError);
        restoreRecording();
        return;
    }
    if (!replacing)
        CopyCompanionFile(path, fileName);

    // The new file is written under a hidden name and renamed into place once it is whole, so a
    // failed or interrupted rebuild never leaves a broken file under the output's name.
    const std::string partialPath = PartialName(outputPath);
    DeleteFileQuietly(partialPath);
    muxer.SetImageFormat(resolution, framesPerSecond);
    if (!muxer.Open(partialPath)) {
        sourceFile.Abandon();
        restoreRecording();
        ShowProblem(messages::OutputNotCreated(outputPath), outputPath);
        return;
    }

    CopyEnd end = CopyEnd::EndOfData;
    FourCC endTag;
    uint64_t position = start;
    uint32_t videoCopied = 0;
    uint32_t audioCopied = 0;
    try {
        const uint64_t fileSize = sourceFile.Length();
        ReadAhead source(sourceFile);
        uint32_t previousVideoSize = 0;
        std::array<uint8_t, kRepeatPrefixBytes> savedPrefix{};
        std::vector<uint8_t> payload;
        for (;;) {
            ChunkHeader header = ReadChunkHeader(source, position, 0);
            // A header the file cuts short holds no size to copy by.
            if (!header.SizeWhole())
                break;
            const FourCC tag = header.id;
            const bool video00db = tag == fourcc::kVideo00db;
            const bool video00dc = tag == fourcc::kVideo00dc;
            const bool audio = tag == fourcc::kAudio01wb;
            if (tag == fourcc::kIdx1 || tag == fourcc::kJunk) {
                if (auto media = MediaChunkBehind(source, header, fileSize, IsCopiedChunk)) {
                    position = *media;
                    continue;
                }
            }
            if (!video00db && !video00dc && !audio) {
                if (!EndsData(tag) && header.PayloadStart() < fileSize) {
                    end = CopyEnd::UnknownTag;
                    endTag = tag;
                }
                break;
            }
            if (header.size == 0) {
                position = header.End();
                continue;
            }
            if (JudgeChunk(header, fileSize) == ChunkFit::Implausible) {
                end = CopyEnd::Implausible;
                break;
            }
            // Video frames are handed over at an even size; the extra byte, and the bytes of a
            // cut-off payload the file no longer holds, are zeros. Anything else is handed over
            // where it lies in the read block.
            const bool handedAtOwnSize = audio || header.size % 2 == 0;
            const uint8_t* data = handedAtOwnSize ? source.View(header.PayloadStart(), header.size) : nullptr;
            if (data == nullptr) {
                try {
                    payload.resize(audio ? header.size : (header.size + size_t{1}) & ~size_t{1});
                } catch (const std::bad_alloc&) {
                    end = CopyEnd::OutOfMemory;
                    break;
                }
                size_t got = source.ReadAt(header.PayloadStart(), payload.data(), header.size);
                std::fill(payload.begin() + static_cast<ptrdiff_t>(got), payload.end(), uint8_t{0});
                data = payload.data();
            }
            const size_t prefixBytes = std::min<size_t>(header.size, kRepeatPrefixBytes);

            if (audio) {
                muxer.WriteAudioBlock(data, header.size);
                ++audioCopied;
            } else if (video00db) {
                muxer.WriteVideoFrame(data, header.size, FrameKind::Key);
                ++videoCopied;
            } else {
                bool repeats = previousVideoSize != 0 && previousVideoSize == header.size &&
                               std::memcmp(data, savedPrefix.data(), prefixBytes) == 0;
                if (repeats) {
                    // The camera wrote the same picture again: an empty frame that shows the last one.
                    muxer.WriteRepeatFrame(FrameKind::Key);
                } else {
                    // A frame of the same size with other content is a new picture, never dropped.
                    muxer.WriteVideoFrame(data, header.size, FrameKind::Delta);
                    std::copy_n(data, prefixBytes, savedPrefix.begin());
                }
                previousVideoSize = header.size;
                ++videoCopied;
            }
            if (muxer.Failed()) {
                end = CopyEnd::WriterFailed;
                break;
            }
            position = header.End();
        }
    } catch (const FileError& error) {
        ReportFileError(error);
        end = CopyEnd::FileError;
    }

    muxer.Finish();
    sourceFile.Abandon(); // only read from: closing it cannot lose anything
    if (end == CopyEnd::EndOfData && !muxer.Complete())
        end = CopyEnd::WriterFailed;
    outcome.videoChunks = videoCopied;
    outcome.audioChunks = audioCopied;

    const bool copiedAnything = videoCopied + audioCopied != 0;
    if (end == CopyEnd::EndOfData && copiedAnything) {
        int placeError =
            replacing ? MoveFileNoReplace(partialPath, outputPath) : RenameReplacing(partialPath, outputPath);
        if (placeError != 0) {
            DeleteFileQuietly(partialPath);
            restoreRecording();
            ShowProblem(messages::OutputNotCreated(outputPath), outputPath);
            return;
        }
        if (replacing)
            DeleteFileQuietly(names.temporaryName);
        outcome.status = FixStatus::Repaired;
        return;
    }

    // The copy did not reach the end of the data: the recording stays, under its own name.
    const bool keepPartial = !replacing && copiedAnything && muxer.Complete();
    if (keepPartial && RenameReplacing(partialPath, outputPath) == 0) {
        outcome.status = FixStatus::Partial;
        ShowProblem(messages::CopyStopped(DescribeEnd(end, endTag), position, false), path);
        return;
    }
    DeleteFileQuietly(partialPath);
    restoreRecording();
    if (!copiedAnything && end != CopyEnd::FileError)
        ShowProblem(messages::NoRecordingData(), path);
    else
        ShowProblem(messages::CopyStopped(DescribeEnd(end, endTag), position, true), path);
}

} // namespace clipwright
