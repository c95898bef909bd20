// The repair job: refuses what must not be touched, probes the layout and runs one repair on it.
#include "repair/RepairEngine.h"

#include "avi/LittleEndian.h"
#include "repair/Messages.h"
#include "repair/OutputNaming.h"
#include "repair/RecordingLayout.h"

#include <optional>
#include <sys/stat.h>

namespace clipwright {

namespace {

bool IsSymbolicLink(const std::string& path) {
    struct stat status {};
    return ::lstat(path.c_str(), &status) == 0 && S_ISLNK(status.st_mode);
}

bool IsTooLargeToRepair(const std::string& path) {
    struct stat status {};
    return ::stat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode) &&
           static_cast<uint64_t>(status.st_size) >= layout::kMaxRecordingSize;
}

} // namespace

void RepairEngine::RunFixJob(FixRequest request) {
    outcome = FixOutcome{};
    workingPath = request.path;
    // Every position in the format is 32-bit: refuse before anything is written.
    if (IsTooLargeToRepair(request.path)) {
        ShowProblem(messages::RecordingTooLarge(), request.path);
        outcome.status = FixStatus::Failed;
        return;
    }
    // Replacing through a link would change a file elsewhere, or swap the link for a plain file.
    if (request.mode == OutputMode::ReplaceOriginal && IsSymbolicLink(request.path)) {
        ShowProblem(messages::ReplacingThroughLink(), request.path);
        outcome.status = FixStatus::Failed;
        return;
    }
    // An interrupted replace left the recording under its temporary name: say where it is, rather
    // than that nothing is there.
    const OutputNames names = MakeOutputNames(request.path, request.fileName);
    if (!FileExists(request.path) && FileExists(names.temporaryName)) {
        ShowProblem(messages::RecordingUnderTemporaryName(names.temporaryName, request.path), request.path);
        outcome.status = FixStatus::Failed;
        return;
    }
    LayoutCode layout = ProbeLayout();
    outcome.layout = layout;
    // A probe that could not read the file has said why; a rebuild on a guessed layout would only
    // say it again, or, after a passing fault, repair the recording in a way its layout never asked for.
    if (!outcome.layoutProbed) {
        outcome.status = FixStatus::Failed;
        return;
    }
    if (layout == LayoutStandard) {
        RebuildIndexInPlace(request.path, request.fileName, request.mode, request.entries);
        return;
    }
    // Neither of the camera's shapes: a RIFF AVI with a readable header is another recorder's file,
    // and a camera recording whose header block is lost has none.
    if (layout != LayoutShifted) {
        if (auto structure = ReadStructure()) {
            RepairOtherRecorder(request, *structure);
            return;
        }
        if (!outcome.layoutProbed) {
            outcome.status = FixStatus::Failed;
            return;
        }
    }
    RebuildFile(request.path, request.fileName, request.mode, layout);
}

LayoutCode RepairEngine::ProbeLayout() {
    FileError openError;
    if (!sourceFile.Open(workingPath, ShareMode::DenyNone, openError)) {
        ReportFileError(openError);
        return LayoutOther;
    }
    try {
        const LayoutCode result = ProbeLayoutOf(sourceFile);
        sourceFile.Close();
        // Only a probe that read the file has found a layout.
        outcome.layoutProbed = true;
        return result;
    } catch (const FileError& error) {
        ReportFileError(error);
        sourceFile.Abandon();
        return LayoutOther;
    }
}

std::optional<AviStructure> RepairEngine::ReadStructure() {
    FileError openError;
    if (!sourceFile.Open(workingPath, ShareMode::DenyNone, openError)) {
        ReportFileError(openError);
        outcome.layoutProbed = false;
        return std::nullopt;
    }
    try {
        auto structure = ReadAviStructure(sourceFile, sourceFile.Length());
        sourceFile.Close();
        return structure;
    } catch (const FileError& error) {
        ReportFileError(error);
        sourceFile.Abandon();
        outcome.layoutProbed = false;
        return std::nullopt;
    }
}

void RepairEngine::ReportFileError(const FileError& error) {
    const char* message = FileErrorMessage(error.cause);
    if (message != nullptr && host != nullptr)
        host->ShowMessage(message, error.fileName);
}

void RepairEngine::ShowProblem(const std::string& text, const std::string& filePath) {
    if (host != nullptr)
        host->ShowMessage(text, filePath);
}

bool RepairEngine::CopyCompanionFile(const std::string& path, const std::string& fileName) {
    OutputNames names = MakeOutputNames(path, fileName);
    SourceFile companion;
    FileError notShown;
    // Only a companion that nobody else holds open, and that may be written, is copied.
    if (!companion.Open(names.companionPath, ShareMode::Exclusive, notShown))
        return false;
    // Its close cannot lose anything: the companion was not written.
    companion.Abandon();
    return CopyFileReplacing(names.companionPath, names.companionCopy) == 0;
}

} // namespace clipwright
