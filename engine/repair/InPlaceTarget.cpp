#include "repair/InPlaceTarget.h"

#include "platform/FileOperations.h"
#include "repair/CopyAhead.h"

#include <new>

namespace clipwright {

InPlaceTarget::InPlaceTarget(const Inspection& inspection, const RepairPlan& plan, const JobContext& job)
    : inspection_(inspection), plan_(plan), job_(job), copying_(plan.mode == OutputMode::NewFile) {}

InPlaceTarget::~InPlaceTarget() {
    if (copying_ && !placed_)
        DeleteFileQuietly(plan_.partialPath);
}

bool InPlaceTarget::Run(const std::function<void(SourceFile&)>& writes) {
    SourceFile file;
    if (!Open(file))
        return false;
    try {
        writes(file);
    } catch (const FileError& error) {
        Abandon(file);
        job_.ReportFileError(FileError(error.cause, error.systemError, plan_.outputPath));
        return false;
    } catch (const std::bad_alloc&) {
        Abandon(file);
        job_.Report({.code = EventCode::OutOfMemory, .path = inspection_.path});
        return false;
    }
    return Finish(file);
}

bool InPlaceTarget::Open(SourceFile& file) {
    const std::string& path = inspection_.path;
    if (!copying_) {
        // Another program may have gone on writing since the look: an index written now would
        // land on its footage.
        if (!StillAsInspected(inspection_)) {
            job_.Report({.code = EventCode::ChangedWhileRead, .path = path});
            return false;
        }
        FileError openError;
        if (!file.Open(path, ShareMode::DenyNone, openError)) {
            job_.ReportFileError(openError);
            return false;
        }
        return true;
    }
    undo_.emplace(plan_.partialPath, std::string(), path);
    undo_->AlsoRemove(PartialName(inspection_.names.companionCopy));
    companionCopied_ = CopyCompanionFile(inspection_.names);
    // Without the repair its companion's copy would stand alone.
    if (companionCopied_)
        undo_->AlsoRemove(inspection_.names.companionCopy);
    // A read-only recording (a write-protected card, an evidence copy) gives a read-only copy,
    // which the repair must still write.
    job_.BeginPhase(ProgressPhase::Copying, inspection_.size);
    int copyError = 0;
    CopyAhead* ahead = job_.copyAhead;
    try {
        copyError = ahead != nullptr ? ahead->Take(job_.progress)
                                     : CopyToNewFile(path, plan_.partialPath, true, job_.progress);
    } catch (const JobStopped&) {
        Abandon(file);
        throw;
    }
    if (copyError != 0) {
        Abandon(file);
        job_.Report({.code = EventCode::CopyNotMade,
                     .path = plan_.outputPath,
                     .outputPath = plan_.outputPath,
                     .systemError = copyError});
        return false;
    }
    // The copy holds what the inspection read only if the recording did not change meanwhile, nor,
    // for one begun beside the inspection, before it.
    if (!StillAsInspected(inspection_) || (ahead != nullptr && !ahead->StartedOn(inspection_.status))) {
        Abandon(file);
        job_.Report({.code = EventCode::ChangedWhileRead, .path = path});
        return false;
    }
    FileError openError;
    if (!file.Open(plan_.partialPath, ShareMode::DenyNone, openError)) {
        Abandon(file);
        openError.fileName = plan_.outputPath; // the user knows the copy by its final name
        job_.ReportFileError(openError);
        return false;
    }
    return true;
}

bool InPlaceTarget::Finish(SourceFile& file) {
    try {
        file.Close();
    } catch (const FileError& error) {
        Abandon(file);
        job_.ReportFileError(FileError(error.cause, error.systemError, plan_.outputPath));
        return false;
    }
    if (!copying_)
        return true;
    int placeError = 0;
    if ((inspection_.status.st_mode & S_IWUSR) == 0)
        placeError = SetModeOf(plan_.partialPath, inspection_.status);
    if (placeError == 0)
        placeError = PlaceNewFile(plan_.partialPath, plan_.outputPath);
    if (placeError != 0) {
        Abandon(file);
        job_.Report({.code = EventCode::CopyNotMade,
                     .path = plan_.outputPath,
                     .outputPath = plan_.outputPath,
                     .systemError = placeError});
        return false;
    }
    placed_ = true;
    undo_->AlsoRemove({});
    return true;
}

void InPlaceTarget::Abandon(SourceFile& file) noexcept {
    file.Abandon();
    if (!copying_)
        return;
    DeleteFileQuietly(plan_.partialPath);
    if (companionCopied_)
        DeleteFileQuietly(inspection_.names.companionCopy);
}

} // namespace clipwright
