#include "text/Messages.h"

#include "platform/FileError.h"

#include <cctype>
#include <cstdio>
#include <system_error>

namespace clipwright::messages {

namespace {

std::string Quoted(const std::string& path) {
    size_t separator = path.rfind('/');
    return "\"" + (separator == std::string::npos ? path : path.substr(separator + 1)) + "\"";
}

std::string Bytes(uint64_t count) {
    return std::to_string(count) + (count == 1 ? " byte" : " bytes");
}

// 1234 -> "1,234"
std::string Grouped(uint64_t number) {
    std::string digits = std::to_string(number);
    for (size_t at = digits.size(); at > 3; at -= 3)
        digits.insert(at - 3, ",");
    return digits;
}

std::string Count(uint64_t number, const char* noun) {
    return Grouped(number) + " " + noun + (number == 1 ? "" : "s");
}

std::string Reason(int systemError) {
    return std::error_code(systemError, std::generic_category()).message();
}

} // namespace

std::string CopyToFixNameFailed(const std::string& fixName, int systemError) {
    return "The recording could not be copied to " + Quoted(fixName) + " (" + Reason(systemError) +
           "). Nothing was repaired, and the recording was left as it was.";
}

std::string MoveToTemporaryNameFailed(const std::string& temporaryName, int systemError) {
    return "The recording could not be renamed to " + Quoted(temporaryName) + " for the repair (" +
           Reason(systemError) +
           "). The recording was left as it was. If an earlier repair left that file behind, move it away "
           "and try again, or choose \"Make new file\".";
}

std::string FolderRefusesNewFile(const std::string& outputPath, int systemError) {
    const size_t separator = outputPath.rfind('/');
    const std::string folder = separator == std::string::npos ? "." : outputPath.substr(0, separator + 1);
    return "The repaired file " + Quoted(outputPath) + " cannot be written in the folder \"" + folder +
           "\" (" + Reason(systemError) +
           "). The recording was left as it was. Choose another folder for the new file.";
}

std::string OutputNotCreated(const std::string& outputPath) {
    return "The repaired file " + Quoted(outputPath) +
           " could not be created. The recording was left as it was.";
}

std::string NoRepairNeeded() {
    return "This AVI is complete and its index is intact: it needed no repair, and it was left as it was.";
}

namespace {

const char* RateSourceWords(RateSource source) {
    switch (source) {
    case RateSource::Video:
        return "from the video";
    case RateSource::SoundClock:
        return "from the sound's clock";
    case RateSource::VideoClock:
        return "from the video's clock";
    case RateSource::User:
        return "as given";
    case RateSource::None:
        break;
    }
    return "unknown";
}

std::string FramesPerSecond(uint32_t rate, uint32_t scale) {
    if (scale == 0)
        return "?";
    if (rate % scale == 0)
        return std::to_string(rate / scale);
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", static_cast<double>(rate) / scale);
    return text;
}

std::string VideoKindName(codec::VideoKind kind) {
    switch (kind) {
    case codec::VideoKind::Mpeg4Visual:
        return "MPEG-4";
    case codec::VideoKind::H264:
        return "H.264";
    case codec::VideoKind::Mjpeg:
        return "Motion JPEG";
    case codec::VideoKind::Unknown:
        break;
    }
    return "unknown video";
}

std::string SoundName(const codec::SoundFacts& sound) {
    const std::string channels = sound.channels == 1   ? "mono"
                                 : sound.channels == 2 ? "stereo"
                                                       : std::to_string(sound.channels) + " channels";
    switch (sound.kind) {
    case codec::SoundKind::MsAdpcm:
        return "MS-ADPCM " + channels;
    case codec::SoundKind::ImaAdpcm:
        return "IMA-ADPCM " + channels;
    case codec::SoundKind::Mpeg:
        return (sound.mpegLayer == 3   ? "MP3 "
                : sound.mpegLayer == 2 ? "MP2 "
                                       : "MP1 ") +
               std::to_string(sound.bitrate / 1000) + " kbit/s " + channels;
    case codec::SoundKind::Ac3:
        return "AC-3 " + std::to_string(sound.bitrate / 1000) + " kbit/s " + channels;
    case codec::SoundKind::Pcm:
        return "PCM " + std::to_string(sound.bitsPerSample) + "-bit " + channels;
    case codec::SoundKind::None:
    case codec::SoundKind::Unknown:
        break;
    }
    return "unknown sound";
}

} // namespace

std::string StreamsFound(const BitstreamStreams& streams) {
    std::string text = VideoKindName(streams.video.kind);
    if (streams.video.width != 0)
        text += " " + std::to_string(streams.video.width) + "x" + std::to_string(streams.video.height);
    if (streams.rateSource != RateSource::None)
        text += " at " + FramesPerSecond(streams.rate, streams.scale) + " fps " +
                RateSourceWords(streams.rateSource);
    if (streams.sound.kind == codec::SoundKind::None)
        return text + ", no sound";
    text += ", " + SoundName(streams.sound);
    if (streams.sampleRate != 0)
        text += " " + std::to_string(streams.sampleRate) + " Hz " + RateSourceWords(streams.sampleRateSource);
    return text;
}

std::string StreamsUnknown(StreamGap gap) {
    std::string what;
    switch (gap) {
    case StreamGap::VideoFormat:
        what = "what its video is";
        break;
    case StreamGap::SoundFormat:
        what = "what its sound is";
        break;
    case StreamGap::SampleRate:
        what = "at what rate its sound was sampled";
        break;
    case StreamGap::FrameRate:
        what = "its frame rate";
        break;
    case StreamGap::None:
        what = "what it holds";
        break;
    }
    return "ERROR: The header of this recording was lost, and its chunks do not say " + what +
           ", so no header that fits them can be written. The recording was left as it was.";
}

std::string ReferenceUnfit(const std::string& referencePath, ReferenceMisfit misfit, int fileCause) {
    std::string why;
    switch (misfit) {
    case ReferenceMisfit::Unreadable: {
        const char* sentence = FileErrorMessage(fileCause);
        why = std::string("it could not be read (") +
              (sentence != nullptr ? sentence : FileErrorMessage(filecause::kGeneric)) + ")";
        break;
    }
    case ReferenceMisfit::NotAvi:
        why = "it is no AVI recording with a header that can be read";
        break;
    case ReferenceMisfit::NoVideo:
        why = "its first stream is not a video stream";
        break;
    case ReferenceMisfit::VideoCodec:
        why = "its video is of another codec than this recording's";
        break;
    case ReferenceMisfit::FrameSize:
        why = "its frame size is not the one this recording's video gives";
        break;
    case ReferenceMisfit::NoSound:
        why = "this recording holds sound, and the reference has no sound stream after its video";
        break;
    case ReferenceMisfit::SoundFormat:
        why = "its sound is of another format than this recording's";
        break;
    case ReferenceMisfit::None:
        break;
    }
    return "ERROR: The reference recording " + Quoted(referencePath) +
           " does not fit this recording: " + why + ". The recording was left as it was.";
}

std::string OtherRecorderFindings(uint32_t streams, uint32_t videoFrames,
                                  std::optional<double> audioSeconds) {
    std::string text =
        "AVI from another recorder: " + Count(streams, "stream") + ", " + Count(videoFrames, "video frame");
    if (audioSeconds)
        text += ", " + std::to_string(static_cast<uint64_t>(*audioSeconds + 0.5)) + " s of audio";
    return text;
}

std::string KeyFramesUnknown(const UnknownKeyFrames& unknown) {
    const std::string codec = unknown.codec.Quoted().substr(1, 4);
    const std::string known = unknown.writerFlagged > 1 ? Count(unknown.writerFlagged, "video frame") : "";
    return "key frames after the first " + (known.empty() ? "" : known + " ") +
           "are unknown for this codec (" + codec + ")";
}

std::string OtherRecorderRepaired(const clipwright::OtherRecorderFindings& found,
                                  const std::string& outputPath) {
    std::string text = OtherRecorderFindings(found.streams, found.videoFrames, found.audioSeconds);
    if (found.copiedBecause == CopyReason::None) {
        text += ", index rebuilt in " +
                std::string(found.replacedOriginal ? "the original file " : "the new file ") +
                Quoted(outputPath) + ".";
    } else {
        const std::string why =
            found.copiedBecause == CopyReason::PartsNotListable
                ? "It continues in further RIFF parts, as recorders write files past 1 GB, but its header "
                  "has "
                  "no room to list every part"
                : "It holds 2 GB or more in a single RIFF part, more than players read in a file of its kind";
        text += ". " + why + ", so it was written anew as an OpenDML file with every part indexed" +
                (found.replacedOriginal ? ", which replaced the original file " + Quoted(outputPath) + "."
                                        : ", as the new file " + Quoted(outputPath) + ".");
    }
    if (found.unknownKeyFrames) {
        std::string keys = KeyFramesUnknown(*found.unknownKeyFrames);
        keys[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(keys[0])));
        text += " " + keys + ".";
    }
    return text;
}

std::string NoRecordingData() {
    return "No recording data was found in this file. Nothing was written.";
}

std::string NewFileNotWritten(int systemError) {
    return "the new file could not be written (" + Reason(systemError) + ")";
}

std::string NewNameNotOnDisk(const std::string& outputPath, const std::string& keptAs, int systemError) {
    std::string text = "The repaired file " + Quoted(outputPath) +
                       " was written, but the system could not confirm that its name is on the disk (" +
                       Reason(systemError) + ").";
    if (!keptAs.empty())
        text += " The recording was kept as " + Quoted(keptAs) + ".";
    return text;
}

std::string CopyStopped(const std::string& reason, uint64_t offset, bool recordingRestored) {
    std::string text = "The repair stopped at offset " + std::to_string(offset) + ": " + reason + ".";
    if (recordingRestored)
        return text + " The recording was left as it was.";
    return text + " The new file holds what was copied before that point.";
}

std::string NoRecordingFound(const std::string& path) {
    return "no recording found in " + path;
}

std::string MayBeFragmented(uint64_t offset) {
    return "its chunks may go on at byte " + std::to_string(offset) + ": the file may be fragmented";
}

std::string ReplacingThroughLink() {
    return "This recording is a symbolic link to a file in another place. \"Replace original file\" would "
           "change that file, so nothing was changed. Choose \"Make new file\" to repair it.";
}

std::string RecordingUnderTemporaryName(const std::string& temporaryName, const std::string& path) {
    return "The recording is not at " + Quoted(path) + ", but " + Quoted(temporaryName) +
           " stands beside it: an earlier repair of it was interrupted. Rename " + Quoted(temporaryName) +
           " back to " + Quoted(path) + " and repair it again. Nothing was changed.";
}

std::string SkippedSummary(const WalkSummary& walk) {
    if (walk.damaged.empty())
        return {};
    const DamagedStretch& first = walk.damaged.front();
    if (walk.damaged.size() == 1)
        return Bytes(first.bytes) + " of damaged data skipped at offset " + std::to_string(first.offset);
    return Bytes(walk.DamagedBytes()) + " of damaged data skipped in " + std::to_string(walk.damaged.size()) +
           " places, the first at offset " + std::to_string(first.offset);
}

std::string SkippedNotice(const WalkSummary& walk, bool inPlace) {
    std::string text;
    if (!walk.damaged.empty()) {
        std::string summary = SkippedSummary(walk);
        summary[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(summary[0])));
        text = "The recording holds damaged data: " + summary + ". The chunks before and behind it were " +
               (inPlace ? "indexed." : "copied.");
    }
    if (walk.end == WalkEnd::NoChunkBehind && !walk.tailIsZeros) {
        if (!text.empty())
            text += " ";
        text += "The bytes from offset " + std::to_string(walk.endOffset) +
                " to the end of the file hold no recording data" +
                (inPlace ? "; they were left where they are." : " and were not copied.");
    }
    return text;
}

std::string InPlaceStopped(uint64_t offset, uint32_t chunksIndexed) {
    return "The repair stopped at offset " + std::to_string(offset) + ": " + WalkGaveUpReason() +
           ". The index covers the " + std::to_string(chunksIndexed) +
           " chunks before that point, and the bytes from there on were left as they were.";
}

std::string WalkGaveUpReason() {
    return "the data there is damaged, and no chunk was found in the " +
           std::to_string(kResyncSearchLimit >> 20) + " MB behind it";
}

std::string NoMemoryForAChunkReason() {
    return "there was not enough memory for a chunk";
}

std::string RecordingNotReadReason() {
    return "the recording could not be read";
}

std::string EndOfRecordingReason() {
    return "the end of the recording";
}

std::string OutOfMemory() {
    return "There was not enough memory to repair this recording. The recording was left as it was.";
}

std::string NoMemoryToCheck() {
    return "There was not enough memory to check this recording.";
}

std::string EmptyFile() {
    return "This file is empty: it holds no recording data. A power cut can leave a recording's name with "
           "no data behind it; the footage may still be on the card, where a recovery program can look for "
           "it. Nothing was written.";
}

std::string NotAnAviFile(const std::string& whatItIs) {
    std::string text = "This file is not an AVI file";
    if (!whatItIs.empty())
        text += ": it is " + whatItIs;
    return text + ". Clipwright repairs AVI recordings only, so nothing was written.";
}

std::string OpenForWriting() {
    return "Another program has this recording open for writing: it may still be being recorded. Nothing "
           "was changed; repair it once the recording has ended.";
}

std::string ChangedWhileRead() {
    return "This recording changed while Clipwright was reading it: another program may still be writing "
           "it. Nothing was changed; repair it once the recording has ended.";
}

std::string RepairAlreadyRunning() {
    return "This recording is being repaired by another Clipwright window or command. Nothing was changed; "
           "wait until that repair has ended.";
}

} // namespace clipwright::messages
