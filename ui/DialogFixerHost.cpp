#include "DialogFixerHost.h"

#include "CImageSettingDlg.h"
#include "CRepairDlg.h"
#include "GuiThreadCall.h"
#include "MessageBoxes.h"
#include "PrivateMessages.h"

#include <QCoreApplication>

namespace clipwright::ui {

void DialogFixerHost::ShowMessage(const std::string& text, const std::string& /*filePath*/) {
    const QString message = QString::fromStdString(text);
    CallOnOwnerThread(&dialog_, [this, &message] {
        ShowMessageBox(dialog_.MessageOwner(), message, QMessageBox::Warning);
    });
}

bool DialogFixerHost::AskImageSettings() {
    bool answered = false;
    CallOnOwnerThread(&dialog_, [this, &answered] {
        CImageSettingDlg prompt(&dialog_);
        answered = prompt.exec() == QDialog::Accepted;
    });
    return answered;
}

void DialogFixerHost::ShowProgress(bool visible) {
    CallOnOwnerThread(&dialog_, [this, visible] {
        PrivateMessage showProgress(WM_SHOW_PROGRESS, visible ? SW_SHOW : SW_HIDE, nullptr);
        QCoreApplication::sendEvent(&dialog_, &showProgress);
    });
}

} // namespace clipwright::ui
