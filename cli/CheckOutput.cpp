#include "CheckOutput.h"

#include "JsonWriter.h"
#include "text/EventText.h"
#include "text/Messages.h"

#include <cstdio>

namespace clipwright::cli {

namespace {

std::string Number(uint64_t value) {
    return std::to_string(value);
}

std::string Decimal(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.2f", value);
    return text;
}

// The four characters, unprintable bytes as '?', without the quotes of FourCC::Quoted.
std::string FourCCText(const FourCC& code) {
    const std::string quoted = code.Quoted();
    return quoted.substr(1, quoted.size() - 2);
}

std::optional<std::string> FourCCText(const std::optional<FourCC>& code) {
    return code ? std::optional(FourCCText(*code)) : std::nullopt;
}

std::optional<std::string> AudioCodec(std::optional<uint16_t> format) {
    if (!format)
        return std::nullopt;
    switch (*format) {
    case 1:
        return "PCM";
    case 2:
        return "MS-ADPCM";
    case 6:
        return "A-law";
    case 7:
        return "mu-law";
    case 0x55:
        return "MP3";
    default:
        return "format " + Number(*format);
    }
}

// Only an MPEG-4 video object layer is read for the size; finding one names the codec.
std::optional<std::string> VideoCodec(const DetectedSettings& video) {
    return video.width ? std::optional<std::string>("MPEG-4 Visual") : std::nullopt;
}

const char* RateSourceName(DetectedSettings::RateSource source) {
    switch (source) {
    case DetectedSettings::RateSource::VolFixedRate:
        return "vol fixed rate";
    case DetectedSettings::RateSource::VopTimeIncrements:
        return "vop times";
    case DetectedSettings::RateSource::AudioClock:
        return "audio clock";
    case DetectedSettings::RateSource::None:
        break;
    }
    return nullptr;
}

const char* RateSourceText(DetectedSettings::RateSource source) {
    switch (source) {
    case DetectedSettings::RateSource::VolFixedRate:
        return "the VOL's fixed rate";
    case DetectedSettings::RateSource::VopTimeIncrements:
        return "the VOP times";
    case DetectedSettings::RateSource::AudioClock:
        return "the sound's clock";
    case DetectedSettings::RateSource::None:
        break;
    }
    return "nothing";
}

const char* WalkEndName(WalkEnd end) {
    switch (end) {
    case WalkEnd::EndOfFile:
        return "end of file";
    case WalkEnd::CutChunk:
        return "cut chunk";
    case WalkEnd::Filler:
        return "filler";
    case WalkEnd::NoChunkBehind:
        return "no chunk behind";
    case WalkEnd::GaveUp:
        break;
    }
    return "gave up";
}

std::string WalkEndText(const WalkSummary& walk) {
    const std::string at = Number(walk.endOffset);
    switch (walk.end) {
    case WalkEnd::EndOfFile:
        return "at the end of the file, offset " + at;
    case WalkEnd::CutChunk:
        return "in a chunk cut off by the end of the file, at offset " + at;
    case WalkEnd::Filler:
        return "at an old index or filler, offset " + at;
    case WalkEnd::NoChunkBehind:
        return "at offset " + at + ": the bytes from there on hold no chunk" +
               (walk.tailIsZeros ? " (zeros)" : "");
    case WalkEnd::GaveUp:
        break;
    }
    return "at offset " + at + ": the walk gave up there, " + messages::WalkGaveUpReason();
}

const char* ActionName(RepairAction action) {
    switch (action) {
    case RepairAction::IndexInPlace:
        return "index in place";
    case RepairAction::Rebuild:
        return "rebuild";
    case RepairAction::CopyOpenDml:
        return "copy as OpenDML";
    case RepairAction::None:
        break;
    }
    return "none";
}

const char* SettingsSourceName(SettingsSource source) {
    switch (source) {
    case SettingsSource::Header:
        return "header";
    case SettingsSource::Video:
    case SettingsSource::User: // the check takes what the command line would: the video's
        return "video";
    case SettingsSource::Missing:
        return "needed";
    case SettingsSource::Bitstream:
        return "streams";
    case SettingsSource::Reference:
        return "reference";
    case SettingsSource::NotNeeded:
        break;
    }
    return nullptr;
}

struct Size {
    uint32_t width;
    uint32_t height;
};

Size SizeOf(ResolutionCode resolution) {
    switch (resolution) {
    case kResolutionVga:
        return {640, 480};
    case kResolutionQvga:
        return {320, 240};
    default:
        return {160, 112};
    }
}

std::string SettingsText(const ImageSettings& settings) {
    const Size size = SizeOf(settings.resolution);
    return Number(size.width) + "x" + Number(size.height) + " at " + Number(settings.framesPerSecond) +
           " fps";
}

uint32_t Chunks(const CheckReport& report) {
    return report.videoChunks + report.audioChunks + report.otherChunks;
}

// The camera's layouts by the probe's names; another recorder's file by what it is.
const char* LayoutText(const CheckReport& report) {
    return report.otherRecorder ? "another recorder" : LayoutName(report.layout);
}

const char* StreamKindName(StreamKind kind) {
    switch (kind) {
    case StreamKind::Video:
        return "video";
    case StreamKind::Audio:
        return "audio";
    case StreamKind::Text:
        return "text";
    case StreamKind::Other:
        break;
    }
    return "other";
}

std::optional<std::string> StreamCodec(const StreamInfo& stream) {
    switch (stream.kind) {
    case StreamKind::Video:
        return FourCCText(stream.compression);
    case StreamKind::Audio:
        return AudioCodec(stream.formatTag);
    case StreamKind::Text:
    case StreamKind::Other:
        break;
    }
    return std::nullopt;
}

// An event as the repair would show it; empty for none.
std::string Said(const std::optional<EngineEvent>& event) {
    return event ? PlainEventText(*event) : std::string();
}

// What a repair in one mode would do, as one phrase for the user.
std::string ModeText(const CheckReport& report, const ModePlan& plan, OutputMode mode) {
    const bool replacing = mode == OutputMode::ReplaceOriginal;
    const std::string reason = Said(plan.end);
    std::string what;
    switch (plan.result) {
    case PlannedResult::NeedsSettings:
        return report.streams ? "needs --fps" : "needs --resolution and --fps";
    case PlannedResult::NothingFound:
        return "nothing to repair";
    case PlannedResult::NoRepairNeeded:
        return "no repair needed, the file is left as it is";
    case PlannedResult::Refused:
        // The report's problem is printed once, above.
        return reason == Said(report.problem) ? "refused" : "refused. " + reason;
    case PlannedResult::Stops:
        return "writes nothing. " + reason;
    case PlannedResult::Complete:
    case PlannedResult::Partial:
        break;
    }
    if (plan.action == RepairAction::IndexInPlace) {
        what = replacing ? "index " + Number(Chunks(report)) + " chunks in " + plan.outputPath
                         : plan.outputPath + ", index " + Number(Chunks(report)) + " chunks in place";
    } else if (plan.action == RepairAction::CopyOpenDml) {
        what = "copy " + Number(Chunks(report)) + " chunks into " + plan.outputPath +
               " as an OpenDML file (" +
               (plan.copyReason == CopyReason::PartsNotListable
                    ? "its header has no room to list every RIFF part"
                    : "its one RIFF form would reach 2 GB") +
               ")";
        if (!plan.keptAs.empty())
            what += ", the recording kept as " + plan.keptAs + " until the new file is in place";
    } else {
        what = "rebuild into " + plan.outputPath;
        if (!plan.keptAs.empty())
            what += " (the recording kept as " + plan.keptAs + " until the new file is in place)";
    }
    if (plan.result == PlannedResult::Partial)
        what += ", stopping early. " + reason;
    return what;
}

std::string OptionalNumber(std::optional<uint32_t> value) {
    return value ? Number(*value) : "?";
}

void AppendHeaderLines(std::string& text, const CheckReport& report) {
    const HeaderSettings& header = report.header;
    text += "  video stream, header: " + FourCCText(header.videoHandler).value_or("?") + " (" +
            FourCCText(header.videoCompression).value_or("?") + "), " + OptionalNumber(header.width) + "x" +
            OptionalNumber(header.height) + ", " +
            (header.framesPerSecond != 0 ? Number(header.framesPerSecond) + " fps" : "no rate") + " (rate " +
            OptionalNumber(header.rate) + " / scale " + OptionalNumber(header.scale) + ")" +
            (header.usable ? "" : ", unusable") + "\n";
    const DetectedSettings& video = report.video;
    text += "  video stream, video: " + VideoCodec(video).value_or("no video object layer found");
    if (video.width)
        text += ", " + Number(*video.width) + "x" + Number(video.height.value_or(0));
    if (video.framesPerSecond)
        text += ", " + Number(*video.framesPerSecond) + " fps from " + RateSourceText(video.rateSource) +
                (video.measuredRate ? " (" + Decimal(*video.measuredRate) + " measured)" : "");
    else
        text += ", no rate";
    text += ", read from offset " + Number(report.chunkStart) + "\n";

    if (header.audioStream)
        text += "  audio stream, header: " + AudioCodec(header.audioFormat).value_or("?") + ", " +
                (header.audioSampleRate ? Number(*header.audioSampleRate) + " Hz" : "no sample rate") + "\n";
    else
        text += "  audio stream, header: none\n";
    text += "  audio stream, sound: " + Number(video.audioBlocks) + " blocks of 256 bytes";
    if (video.audioClockRate)
        text += ", its clock gives " + Decimal(*video.audioClockRate) + " video chunks a second";
    text += "\n";
}

void AppendSettingsLine(std::string& text, const CheckReport& report) {
    switch (report.settingsSource) {
    case SettingsSource::Header:
        text += "  settings: from the header, " + SettingsText(*report.settings) + "\n";
        return;
    case SettingsSource::Video:
    case SettingsSource::User:
        text += "  settings: from the video, " + SettingsText(*report.settings) + " (the rate from " +
                RateSourceText(report.video.rateSource) +
                "); the header's are unusable, so both modes make a new file\n";
        return;
    case SettingsSource::Missing:
        if (report.streams) {
            text += "  settings: needs --fps: the header is lost and neither the video nor the sound gives "
                    "the frame rate (" +
                    messages::StreamsFound(*report.streams) + ")\n";
            return;
        }
        text += "  settings: needs --resolution and --fps: the header's are unusable and the video does not "
                "give both\n";
        return;
    case SettingsSource::Reference:
        return;
    case SettingsSource::Bitstream:
        text += "  settings: from the chunks, " + messages::StreamsFound(*report.streams) +
                "; the header is lost and the streams are not the camera's, so both modes make a new file\n";
        return;
    case SettingsSource::NotNeeded:
        return;
    }
}

void AppendStreamLines(std::string& text, const OtherRecorderCheck& other) {
    const OtherRecorderFindings& found = other.findings;
    text +=
        "  found: " + messages::OtherRecorderFindings(found.streams, found.videoFrames, found.audioSeconds);
    if (found.unknownKeyFrames)
        text += "; " + messages::KeyFramesUnknown(*found.unknownKeyFrames);
    text += "\n";
    if (other.riffParts > 1)
        text += "  RIFF parts: " + Number(other.riffParts) + " ('AVI ', then 'AVIX')\n";
    for (size_t number = 0; number < other.streams.size(); ++number) {
        const CheckedStream& stream = other.streams[number];
        const StreamInfo& header = stream.header;
        text += "  stream " + Number(number) + ": " + StreamKindName(header.kind) + ", ";
        // An audio stream's handler says nothing: its format does.
        if (header.kind == StreamKind::Audio)
            text += StreamCodec(header).value_or("?") + ", " + Number(header.sampleRate) + " Hz, " +
                    Number(header.channels) + " channel" + (header.channels == 1 ? "" : "s");
        else
            text += FourCCText(header.handler);
        if (header.kind == StreamKind::Video)
            text += " (" + FourCCText(header.compression) + "), " + Number(header.width) + "x" +
                    Number(header.height);
        text += ", rate " + Number(header.rate) + " / scale " + Number(header.scale) + ", header length " +
                Number(header.length) + "; found " + Number(stream.found.chunks) + " chunks";
        if (stream.seconds)
            text += ", " + Decimal(*stream.seconds) + " s";
        text += "\n";
    }
}

const char* ChunkIdsText(CheckedIds ids) {
    switch (ids) {
    case CheckedIds::InPlace:
        return "as the in-place repair indexes them";
    case CheckedIds::Rebuild:
        return "as the rebuild copies them";
    case CheckedIds::Streams:
        break;
    }
    return "of every stream the header names, as the repair indexes them";
}

const char* ChunkIdsName(CheckedIds ids) {
    switch (ids) {
    case CheckedIds::InPlace:
        return "in place";
    case CheckedIds::Rebuild:
        return "rebuild";
    case CheckedIds::Streams:
        break;
    }
    return "streams";
}

// Everything the reading found, from the streams to where the data ends.
void AppendFindings(std::string& text, const CheckReport& report) {
    if (report.otherRecorder)
        AppendStreamLines(text, *report.otherRecorder);
    else
        AppendHeaderLines(text, report);
    text += "  chunks: " + Number(report.videoChunks) + " video, " + Number(report.audioChunks) + " audio (" +
            ChunkIdsText(report.ids) + ", from offset " + Number(report.chunkStart) + ")\n";
    text += "  data ends: " + WalkEndText(report.walk) + "\n";
    const std::string skipped = messages::SkippedSummary(report.walk);
    text += "  damage: " + (skipped.empty() ? std::string("none") : skipped) + "\n";
    text += "  idx1 index: " +
            (report.indexOffset ? "at offset " + Number(*report.indexOffset) : std::string("none"));
    if (report.otherRecorder && report.otherRecorder->needsNoRepair)
        text += ", listing every chunk; the header agrees";
    text += "\n";
    AppendSettingsLine(text, report);
}

void WritePlan(JsonWriter& json, const CheckReport& report, const ModePlan& plan, OutputMode mode) {
    const bool writes = plan.result == PlannedResult::Complete || plan.result == PlannedResult::Partial;
    json.BeginObject();
    json.Key("result").String(PlannedResultName(plan.result));
    json.Key("action").String(ActionName(plan.action));
    json.Key("output").TextOrNull(plan.outputPath);
    json.Key("chunks").Number(uint64_t{writes ? Chunks(report) : 0});
    json.Key("reason").TextOrNull(Said(plan.end));
    json.Key("reason_code").TextOrNull(plan.end ? EventCodeName(plan.end->code) : "");
    json.Key("kept_as").TextOrNull(plan.keptAs);
    json.Key("text").String(ModeText(report, plan, mode));
    json.EndObject();
}

// The camera's header fields and what its video says: null for another recorder's file, whose
// repair reads neither.
void WriteCameraReading(JsonWriter& json, const CheckReport& report) {
    if (report.otherRecorder) {
        json.Key("header").Null().Key("video").Null();
        return;
    }
    const HeaderSettings& header = report.header;
    json.Key("header").BeginObject();
    json.Key("video").BeginObject();
    json.Key("handler").Optional(FourCCText(header.videoHandler));
    json.Key("compression").Optional(FourCCText(header.videoCompression));
    json.Key("width").Optional(header.width);
    json.Key("height").Optional(header.height);
    json.Key("scale").Optional(header.scale);
    json.Key("rate").Optional(header.rate);
    json.Key("fps").Number(uint64_t{header.framesPerSecond});
    json.EndObject();
    json.Key("audio");
    if (header.audioStream) {
        json.BeginObject();
        json.Key("format").Optional(header.audioFormat);
        json.Key("codec").Optional(AudioCodec(header.audioFormat));
        json.Key("sample_rate").Optional(header.audioSampleRate);
        json.EndObject();
    } else {
        json.Null();
    }
    json.Key("usable").Bool(header.usable);
    json.EndObject();

    const DetectedSettings& video = report.video;
    json.Key("video").BeginObject();
    json.Key("start").Number(report.chunkStart);
    json.Key("codec").Optional(VideoCodec(video));
    json.Key("width").Optional(video.width);
    json.Key("height").Optional(video.height);
    json.Key("fps").Optional(video.framesPerSecond);
    const char* source = RateSourceName(video.rateSource);
    json.Key("fps_from");
    source != nullptr ? json.String(source) : json.Null();
    json.Key("measured_fps").Optional(video.measuredRate);
    json.Key("video_chunks").Number(video.videoChunks);
    json.Key("audio_blocks").Number(video.audioBlocks);
    json.Key("audio_clock_fps").Optional(video.audioClockRate);
    json.EndObject();
}

// The frame size and rate a rebuild would write with.
void WriteSettings(JsonWriter& json, const CheckReport& report) {
    json.Key("settings");
    if (const char* from = SettingsSourceName(report.settingsSource)) {
        json.BeginObject();
        json.Key("from").String(from);
        if (report.streams && report.streams->video.width != 0) {
            const BitstreamStreams& streams = *report.streams;
            json.Key("width").Number(uint64_t{streams.video.width});
            json.Key("height").Number(uint64_t{streams.video.height});
            if (streams.scale != 0)
                json.Key("fps").Number((uint64_t{streams.rate} + streams.scale / 2) / streams.scale);
            else
                json.Key("fps").Null();
        } else if (report.settings) {
            const Size size = SizeOf(report.settings->resolution);
            json.Key("width").Number(uint64_t{size.width});
            json.Key("height").Number(uint64_t{size.height});
            json.Key("fps").Number(uint64_t{report.settings->framesPerSecond});
        } else {
            json.Key("width").Null().Key("height").Null().Key("fps").Null();
        }
        if (report.streams)
            json.Key("streams").String(messages::StreamsFound(*report.streams));
        else
            json.Key("streams").Null();
        json.EndObject();
    } else {
        json.Null();
    }
}

void WriteStreams(JsonWriter& json, const CheckReport& report) {
    json.Key("streams").BeginArray();
    if (report.otherRecorder) {
        for (const CheckedStream& stream : report.otherRecorder->streams) {
            const StreamInfo& header = stream.header;
            const bool video = header.kind == StreamKind::Video;
            const bool audio = header.kind == StreamKind::Audio;
            json.BeginObject();
            json.Key("kind").String(StreamKindName(header.kind));
            json.Key("handler").String(FourCCText(header.handler));
            json.Key("codec").Optional(StreamCodec(header));
            json.Key("format").Optional(audio ? std::optional(header.formatTag) : std::nullopt);
            json.Key("width").Optional(video ? std::optional(header.width) : std::nullopt);
            json.Key("height").Optional(video ? std::optional(header.height) : std::nullopt);
            json.Key("sample_rate").Optional(audio ? std::optional(header.sampleRate) : std::nullopt);
            json.Key("channels").Optional(audio ? std::optional(header.channels) : std::nullopt);
            json.Key("scale").Number(uint64_t{header.scale});
            json.Key("rate").Number(uint64_t{header.rate});
            json.Key("length").Number(uint64_t{header.length});
            json.Key("chunks").Number(uint64_t{stream.found.chunks});
            json.Key("seconds").Optional(stream.seconds);
            json.Key("key_frames_unknown_after")
                .Optional(stream.found.unknownKeyFlags > 0
                              ? std::optional(std::max(stream.found.writerKeyFlags, 1u))
                              : std::nullopt);
            json.EndObject();
        }
    }
    json.EndArray();
}

} // namespace

bool PassesCheck(const CheckReport& report) {
    return report.verdict == CheckVerdict::Healthy || report.verdict == CheckVerdict::Repairable;
}

std::string CheckText(const CheckReport& report) {
    std::string text = report.path + "\n";
    if (report.read) {
        text += std::string("  layout: ") + LayoutText(report) + ", " + Number(report.size) + " bytes\n";
        AppendFindings(text, report);
    }
    if (const std::string problem = Said(report.problem); !problem.empty())
        text += "  problem: " + problem + "\n";
    text += "  Make new file: " + ModeText(report, report.newFile, OutputMode::NewFile) + "\n";
    text +=
        "  Replace original file: " + ModeText(report, report.replace, OutputMode::ReplaceOriginal) + "\n";
    text += std::string("  verdict: ") + VerdictName(report.verdict) + "\n";
    return text;
}

std::string CheckJson(const CheckReport& report) {
    JsonWriter json;
    json.BeginObject();
    json.Key("path").String(report.path);
    json.Key("verdict").String(VerdictName(report.verdict));
    json.Key("problem").TextOrNull(Said(report.problem));
    json.Key("problem_code").TextOrNull(report.problem ? EventCodeName(report.problem->code) : "");
    json.Key("temporary_name").TextOrNull(report.temporaryName);
    if (!report.read) {
        json.Key("size").Null();
        for (const char* key :
             {"layout", "header", "video", "chunks", "data_end", "damage_summary", "idx1_offset", "settings"})
            json.Key(key).Null();
        json.Key("streams").BeginArray().EndArray();
        json.Key("damaged").BeginArray().EndArray();
        json.Key("healthy").Bool(false);
    } else {
        json.Key("size").Number(report.size);
        json.Key("layout").String(LayoutText(report));
        WriteCameraReading(json, report);
        WriteStreams(json, report);

        json.Key("chunks").BeginObject();
        json.Key("ids").String(ChunkIdsName(report.ids));
        json.Key("start").Number(report.chunkStart);
        json.Key("video").Number(uint64_t{report.videoChunks});
        json.Key("audio").Number(uint64_t{report.audioChunks});
        json.EndObject();

        json.Key("data_end").BeginObject();
        json.Key("reason").String(WalkEndName(report.walk.end));
        json.Key("offset").Number(report.walk.endOffset);
        json.Key("zeros_behind").Bool(report.walk.end == WalkEnd::NoChunkBehind && report.walk.tailIsZeros);
        json.EndObject();
        json.Key("damage_summary").TextOrNull(messages::SkippedSummary(report.walk));
        json.Key("idx1_offset").Optional(report.indexOffset);
        WriteSettings(json, report);

        json.Key("damaged").BeginArray();
        for (const DamagedStretch& stretch : report.walk.damaged)
            json.BeginObject()
                .Key("offset")
                .Number(stretch.offset)
                .Key("bytes")
                .Number(stretch.bytes)
                .EndObject();
        json.EndArray();
        json.Key("healthy").Bool(report.healthy);
    }
    json.Key("new_file");
    WritePlan(json, report, report.newFile, OutputMode::NewFile);
    json.Key("replace");
    WritePlan(json, report, report.replace, OutputMode::ReplaceOriginal);
    json.EndObject();
    return json.Text();
}

} // namespace clipwright::cli
