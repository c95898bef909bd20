// The two roles that carry one repair: the progress window's run (on the GUI thread, since only it
// may own windows) and the worker that runs the job on the engine.
#pragma once

#include <string>

namespace clipwright::ui {

class CRepairDlg;

// What the worker is given when it starts. The texts are whole strings: a Linux path may be far
// longer than the 259 characters a fixed field would hold.
struct FixThreadArgs {
    CRepairDlg* owner = nullptr;
    std::string path;
    std::string fileName;
};

// Creates the progress window over `dialog`, holds the dialog's input off while it is up, and
// hands the input back when the window has closed itself.
void ProgressThreadProc(CRepairDlg* dialog);

// Runs one job on the engine and, whatever happens in it, sets the main dialog's job-end timer.
void FixWorkerProc(FixThreadArgs* args);

} // namespace clipwright::ui
