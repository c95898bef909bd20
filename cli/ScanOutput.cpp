#include "ScanOutput.h"

#include "JsonWriter.h"
#include "text/EventText.h"
#include "text/Messages.h"

namespace clipwright::cli {

namespace {

std::string Number(uint64_t value) {
    return std::to_string(value);
}

std::string IdText(const FourCC& id) {
    const std::string quoted = id.Quoted();
    return quoted.substr(1, quoted.size() - 2);
}

std::string IdsText(const std::vector<FourCC>& ids) {
    std::string text;
    for (const FourCC& id : ids)
        text += (text.empty() ? "" : " ") + IdText(id);
    return text;
}

std::string Where(const FoundRecording& found) {
    return std::string(FoundKindName(found.kind)) + " at byte " + Number(found.start) + " to " +
           Number(found.end);
}

std::pair<uint32_t, uint32_t> FrameSize(ResolutionCode resolution) {
    if (resolution == kResolutionQvga)
        return {320, 240};
    if (resolution == kResolutionQqvga)
        return {160, 112};
    return {640, 480};
}

std::string SettingsText(const ImageSettings& settings) {
    const auto [width, height] = FrameSize(settings.resolution);
    return Number(width) + "x" + Number(height) + ", " + Number(settings.framesPerSecond) + " fps";
}

const char* SettingsFrom(SettingsSource source) {
    switch (source) {
    case SettingsSource::Header:
        return "its header";
    case SettingsSource::Video:
        return "its video";
    case SettingsSource::User:
        return "--resolution and --fps";
    case SettingsSource::Bitstream:
        return "its chunks";
    case SettingsSource::Reference:
        return "the reference";
    case SettingsSource::NotNeeded:
    case SettingsSource::Missing:
        break;
    }
    return nullptr;
}

const char* RepairName(RepairKind kind) {
    switch (kind) {
    case RepairKind::CameraInPlace:
    case RepairKind::OtherRecorder:
        return "index_in_place";
    case RepairKind::CameraRebuild:
        return "rebuild";
    case RepairKind::OtherRecorderCopy:
        return "copy_opendml";
    case RepairKind::None:
        break;
    }
    return "none";
}

// What a repair of the recording's copy would do, as one phrase.
std::string RepairText(const ScanCheckItem& item) {
    const RepairPlan& plan = item.plan;
    const std::string reason = item.end ? PlainEventText(*item.end) : std::string();
    switch (plan.result) {
    case PlannedResult::NeedsSettings:
        return "nothing without --resolution and --fps: neither its header nor its video gives the frame "
               "size and rate";
    case PlannedResult::NoRepairNeeded:
        return "none needed: it is complete and indexed, and is written as it stands";
    case PlannedResult::NothingFound:
    case PlannedResult::Refused:
    case PlannedResult::Stops:
        return "nothing: " + reason;
    case PlannedResult::Complete:
    case PlannedResult::Partial:
        break;
    }
    std::string text;
    switch (plan.kind) {
    case RepairKind::CameraInPlace:
        text = "index the camera's chunks";
        break;
    case RepairKind::OtherRecorder:
        text = "index every complete chunk";
        break;
    case RepairKind::CameraRebuild:
        text = "rebuild it from its chunks";
        break;
    case RepairKind::OtherRecorderCopy:
        text = "write it anew as an OpenDML file";
        break;
    case RepairKind::None:
        break;
    }
    if (plan.settings && SettingsFrom(plan.settingsSource) != nullptr)
        text +=
            std::string(", ") + SettingsText(*plan.settings) + " from " + SettingsFrom(plan.settingsSource);
    else if (plan.streams && plan.settingsSource == SettingsSource::Bitstream)
        text += ", " + messages::StreamsFound(*plan.streams);
    if (plan.result == PlannedResult::Partial)
        text += ", up to damaged data it cannot get past: " + reason;
    return text;
}

bool WouldBeWhole(const ScanCheckItem& item) {
    return !item.outputPath.empty() &&
           (item.plan.result == PlannedResult::Complete || item.plan.result == PlannedResult::NoRepairNeeded);
}

std::string RepairDetails(const FixOutcome& repair) {
    const std::string skipped = messages::SkippedSummary(repair.walk);
    if (const auto& found = repair.otherRecorder) {
        std::string text =
            messages::OtherRecorderFindings(found->streams, found->videoFrames, found->audioSeconds);
        text += found->neededNoRepair                      ? ", no repair needed"
                : found->copiedBecause != CopyReason::None ? ", written anew as OpenDML"
                                                           : ", index rebuilt";
        if (!skipped.empty())
            text += " (" + skipped + ")";
        if (found->unknownKeyFrames)
            text += "; " + messages::KeyFramesUnknown(*found->unknownKeyFrames);
        return text;
    }
    return std::string(LayoutName(repair.layout)) + " layout, " + Number(repair.videoChunks) + " video and " +
           Number(repair.audioChunks) + " audio chunks " + (repair.indexedInPlace ? "indexed" : "copied") +
           (skipped.empty() ? "" : "; " + skipped);
}

} // namespace

std::string ScanSummary(const std::string& path, const ScanItemOutcome& item) {
    std::string line = path + ": " + Where(item.found);
    switch (item.status) {
    case ScanItemStatus::Written:
        line += " -> " + item.outputPath + ": " + RepairDetails(item.repair);
        break;
    case ScanItemStatus::Partial:
        line += " -> " + item.outputPath + ": stopped early, " + RepairDetails(item.repair);
        break;
    case ScanItemStatus::NeedsSettings:
        line += ": not written: neither its header nor its video gives the frame size and rate; run again "
                "with --resolution vga|qvga|qqvga and --fps N";
        break;
    case ScanItemStatus::NotWritten:
        line += ": not written";
        break;
    case ScanItemStatus::Stopped:
        line += ": not written: stopped";
        break;
    }
    if (!item.takenName.empty() &&
        (item.status == ScanItemStatus::Written || item.status == ScanItemStatus::Partial))
        line += " (" + item.takenName + " exists already and was left alone)";
    if (item.found.continuesAt)
        line += "; " + messages::MayBeFragmented(*item.found.continuesAt);
    return line + "\n";
}

std::string ScanCheckText(const ScanCheck& check) {
    std::string text = check.path + "\n";
    if (check.problem)
        return text + "  problem: " + PlainEventText(*check.problem) + "\n";
    text += "  size: " + Number(check.size) + " bytes\n";
    if (check.items.empty())
        return text + "  " + messages::NoRecordingFound(check.path) + "\n";
    for (const ScanCheckItem& item : check.items) {
        text += "  " + Where(item.found) + ": " + Number(item.found.chunks) + " media chunks (" +
                IdsText(item.found.ids) + ")\n";
        text +=
            "    written as: " +
            (item.outputPath.empty() ? std::string("nothing: every name for it is taken") : item.outputPath) +
            "\n";
        text += "    repair: " + RepairText(item) + "\n";
        if (item.found.continuesAt)
            text += "    note: " + messages::MayBeFragmented(*item.found.continuesAt) + "\n";
    }
    return text;
}

std::string ScanCheckJson(const ScanCheck& check) {
    auto line = [&](const ScanCheckItem* item) {
        JsonWriter json;
        json.BeginObject();
        json.Key("path").String(check.path);
        json.Key("size").Optional(check.problem ? std::nullopt : std::optional<uint64_t>(check.size));
        std::string problem;
        std::string code;
        if (check.problem) {
            problem = PlainEventText(*check.problem);
            code = EventCodeName(check.problem->code);
        } else if (item == nullptr) {
            problem = messages::NoRecordingFound(check.path);
            code = "no_recording_found";
        }
        json.Key("problem").TextOrNull(problem);
        json.Key("problem_code").TextOrNull(code);
        if (item == nullptr) {
            for (const char* key : {"kind", "start", "end", "chunks", "stream_ids", "continues_at", "output",
                                    "repair", "result", "settings", "reason", "reason_code", "written_whole"})
                json.Key(key).Null();
            return json.EndObject().Text() + "\n";
        }
        const FoundRecording& found = item->found;
        json.Key("kind").String(found.kind == FoundKind::AviForm ? "avi_form" : "headerless");
        json.Key("start").Number(found.start);
        json.Key("end").Number(found.end);
        json.Key("chunks").Number(uint64_t{found.chunks});
        json.Key("stream_ids").BeginArray();
        for (const FourCC& id : found.ids)
            json.String(IdText(id));
        json.EndArray();
        json.Key("continues_at").Optional(found.continuesAt);
        json.Key("output").TextOrNull(item->outputPath);
        json.Key("repair").String(RepairName(item->plan.kind));
        json.Key("result").String(PlannedResultName(item->plan.result));
        if (item->plan.settings && SettingsFrom(item->plan.settingsSource) != nullptr) {
            const auto [width, height] = FrameSize(item->plan.settings->resolution);
            json.Key("settings").BeginObject();
            json.Key("width").Number(uint64_t{width});
            json.Key("height").Number(uint64_t{height});
            json.Key("fps").Number(uint64_t{item->plan.settings->framesPerSecond});
            json.Key("source").String(item->plan.settingsSource == SettingsSource::Header ? "header"
                                      : item->plan.settingsSource == SettingsSource::User ? "options"
                                                                                          : "video");
            json.EndObject();
        } else {
            json.Key("settings").Null();
        }
        json.Key("reason").TextOrNull(item->end ? PlainEventText(*item->end) : std::string());
        json.Key("reason_code").TextOrNull(item->end ? EventCodeName(item->end->code) : "");
        json.Key("written_whole").Bool(WouldBeWhole(*item));
        return json.EndObject().Text() + "\n";
    };
    if (check.problem || check.items.empty())
        return line(nullptr);
    std::string text;
    for (const ScanCheckItem& item : check.items)
        text += line(&item);
    return text;
}

bool PassesScanCheck(const ScanCheck& check) {
    return !check.problem && !check.items.empty() &&
           std::all_of(check.items.begin(), check.items.end(), WouldBeWhole);
}

} // namespace clipwright::cli
