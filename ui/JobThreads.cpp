#include "JobThreads.h"

#include "CProgressDlg.h"
#include "CRepairDlg.h"
#include "Strings.h"

#include <exception>
#include <new>

namespace clipwright::ui {

namespace {

// A failure that left the engine: the next job must still start with an empty index list, and the
// user must learn that this one did not finish.
void ReportJobFailure(CRepairDlg* owner, const std::string& text, const std::string& filePath) {
    owner->IndexEntries().clear();
    owner->Host().ShowMessage(text, filePath);
}

} // namespace

void ProgressThreadProc(CRepairDlg* dialog) {
    auto* progress = new CProgressDlg(dialog);
    progress->SetMainWindow(dialog);
    dialog->AttachProgressDialog(progress);
    QObject::connect(progress, &QDialog::finished, dialog,
                     [dialog, progress] { dialog->ProgressDialogClosed(progress); });
    progress->Run();
}

void FixWorkerProc(FixThreadArgs* args) {
    CRepairDlg* owner = args->owner;
    FixRequest request{args->path, args->fileName, owner->ReadReplaceTick(), &owner->IndexEntries()};
    const std::string path = request.path;
    try {
        owner->RunJob(std::move(request));
    } catch (const std::bad_alloc&) {
        ReportJobFailure(owner, strings::kJobOutOfMemory, path);
    } catch (const std::exception& error) {
        ReportJobFailure(owner, std::string(strings::kJobUnexpectedError) + "\n\n" + error.what(), path);
    } catch (...) {
        ReportJobFailure(owner, strings::kJobUnexpectedError, path);
    }
    // Whatever the job did, its end is relayed, so the progress window closes.
    owner->StartJobEndTimer();
}

} // namespace clipwright::ui
