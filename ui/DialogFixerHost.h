// The engine's notify window: the main dialog's side of the engine's calls. The job calls from its
// worker thread; every call is handed to the GUI thread and waits there until it is done, as a sent
// window message would.
#pragma once

#include "FixerHost.h"

namespace clipwright::ui {

class CRepairDlg;

class DialogFixerHost : public FixerHost {
public:
    explicit DialogFixerHost(CRepairDlg& dialog) : dialog_(dialog) {}

    void ShowMessage(const std::string& text, const std::string& filePath) override;
    bool AskImageSettings() override;
    void ShowProgress(bool visible) override;

private:
    CRepairDlg& dialog_;
};

} // namespace clipwright::ui
