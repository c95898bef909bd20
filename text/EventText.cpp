#include "text/EventText.h"

#include "platform/FileError.h"
#include "text/Messages.h"

namespace clipwright {

namespace {

const char* ForeignKindName(ForeignKind kind) {
    switch (kind) {
    case ForeignKind::Jpeg:
        return "a JPEG picture";
    case ForeignKind::Png:
        return "a PNG picture";
    case ForeignKind::Gif:
        return "a GIF picture";
    case ForeignKind::Mp4:
        return "an MP4 video";
    case ForeignKind::Matroska:
        return "a Matroska (MKV or WebM) video";
    case ForeignKind::Wave:
        return "a WAV sound file";
    case ForeignKind::Pdf:
        return "a PDF document";
    case ForeignKind::Zip:
        return "a ZIP archive";
    case ForeignKind::Text:
        return "text";
    case ForeignKind::Unknown:
        break;
    }
    return "";
}

std::string StopReason(CopyStop stop, int systemError) {
    switch (stop) {
    case CopyStop::Damaged:
        return messages::WalkGaveUpReason();
    case CopyStop::NoMemoryForChunk:
        return messages::NoMemoryForAChunkReason();
    case CopyStop::NotWritten:
        return messages::NewFileNotWritten(systemError);
    case CopyStop::RecordingNotRead:
        return messages::RecordingNotReadReason();
    case CopyStop::EndOfRecording:
        break;
    }
    return messages::EndOfRecordingReason();
}

} // namespace

std::string EventText(const EngineEvent& event) {
    switch (event.code) {
    case EventCode::FileError: {
        const char* message = FileErrorMessage(event.fileCause);
        return message != nullptr ? message : FileErrorMessage(filecause::kGeneric);
    }
    case EventCode::UnderTemporaryName:
        return messages::RecordingUnderTemporaryName(event.temporaryName, event.path);
    case EventCode::Empty:
        return messages::EmptyFile();
    case EventCode::NotAvi:
        return messages::NotAnAviFile(ForeignKindName(event.foreign));
    case EventCode::ReplacingThroughLink:
        return messages::ReplacingThroughLink();
    case EventCode::OpenForWriting:
        return messages::OpenForWriting();
    case EventCode::ChangedWhileRead:
        return messages::ChangedWhileRead();
    case EventCode::RepairRunning:
        return messages::RepairAlreadyRunning();
    case EventCode::CopyNotMade:
        if (event.folderRefused)
            return messages::FolderRefusesNewFile(event.outputPath, event.systemError);
        return messages::CopyToFixNameFailed(event.outputPath, event.systemError);
    case EventCode::TemporaryNameBlocked:
        return messages::MoveToTemporaryNameFailed(event.temporaryName, event.systemError);
    case EventCode::OutputNotCreated:
        if (event.folderRefused)
            return messages::FolderRefusesNewFile(event.outputPath, event.systemError);
        return messages::OutputNotCreated(event.outputPath);
    case EventCode::NothingFound:
        return messages::NoRecordingData();
    case EventCode::NoRepairNeeded:
        return messages::NoRepairNeeded();
    case EventCode::StreamsUnknown:
        return messages::StreamsUnknown(event.streamGap);
    case EventCode::ReferenceUnfit:
        return messages::ReferenceUnfit(event.outputPath, event.referenceMisfit, event.fileCause);
    case EventCode::OutOfMemory:
        return messages::OutOfMemory();
    case EventCode::CheckOutOfMemory:
        return messages::NoMemoryToCheck();
    case EventCode::NewNameNotOnDisk:
        return messages::NewNameNotOnDisk(event.outputPath, event.temporaryName, event.systemError);
    case EventCode::CopyStopped:
        return messages::CopyStopped(StopReason(event.copyStop, event.systemError), event.offset,
                                     event.recordingRestored);
    case EventCode::InPlaceStopped:
        return messages::InPlaceStopped(event.offset, event.chunks);
    case EventCode::SkippedData:
        return messages::SkippedNotice(event.walk, event.inPlace);
    case EventCode::OtherRecorderRepaired:
        return messages::OtherRecorderRepaired(event.findings, event.outputPath);
    }
    return {};
}

std::string PlainEventText(const EngineEvent& event) {
    std::string text = EventText(event);
    constexpr std::string_view kPrefix = "ERROR: ";
    if (text.starts_with(kPrefix))
        text.erase(0, kPrefix.size());
    return text;
}

const char* EventCodeName(EventCode code) {
    switch (code) {
    case EventCode::FileError:
        return "file_error";
    case EventCode::UnderTemporaryName:
        return "under_temporary_name";
    case EventCode::Empty:
        return "empty";
    case EventCode::NotAvi:
        return "not_avi";
    case EventCode::ReplacingThroughLink:
        return "replacing_through_link";
    case EventCode::OpenForWriting:
        return "open_for_writing";
    case EventCode::ChangedWhileRead:
        return "changed_while_read";
    case EventCode::RepairRunning:
        return "repair_running";
    case EventCode::CopyNotMade:
        return "copy_not_made";
    case EventCode::TemporaryNameBlocked:
        return "temporary_name_blocked";
    case EventCode::OutputNotCreated:
        return "output_not_created";
    case EventCode::NothingFound:
        return "nothing_found";
    case EventCode::NoRepairNeeded:
        return "no_repair_needed";
    case EventCode::StreamsUnknown:
        return "streams_unknown";
    case EventCode::ReferenceUnfit:
        return "reference_unfit";
    case EventCode::OutOfMemory:
        return "out_of_memory";
    case EventCode::CheckOutOfMemory:
        return "check_out_of_memory";
    case EventCode::NewNameNotOnDisk:
        return "new_name_not_on_disk";
    case EventCode::CopyStopped:
        return "copy_stopped";
    case EventCode::InPlaceStopped:
        return "in_place_stopped";
    case EventCode::SkippedData:
        return "skipped_data";
    case EventCode::OtherRecorderRepaired:
        break;
    }
    return "other_recorder_repaired";
}

} // namespace clipwright
