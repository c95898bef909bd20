#include "CRepairApp.h"

#include "CRepairDlg.h"
#include "MessageBoxes.h"
#include "Resources.h"
#include "Strings.h"
#include "VersionRecord.h"

#include <QIcon>

// Outside any namespace, as the resource system requires.
static void LoadProgramResources() {
    Q_INIT_RESOURCE(clipwright);
}

namespace clipwright::ui {

CRepairApp::CRepairApp(int& argc, char** argv) : QApplication(argc, argv) {
    LoadProgramResources();
    setApplicationName(QString::fromUtf8(version::kInternalName));
    setApplicationVersion(QString::fromUtf8(version::kVersion));
    setOrganizationName(QString::fromUtf8(version::kCompanyName));
    setDesktopFileName(QStringLiteral("clipwright"));
    setProperty("Comments", QString::fromUtf8(version::kComments));
    setProperty("FileDescription", QString::fromUtf8(version::kFileDescription));
    setProperty("FileVersion", QString::fromUtf8(version::kVersionText));
    setProperty("ProductVersion", QString::fromUtf8(version::kVersionText));
    setProperty("InternalName", QString::fromUtf8(version::kInternalName));
    setProperty("OriginalFilename", QString::fromUtf8(version::kOriginalFilename));
    setProperty("ProductName", QString::fromUtf8(version::kProductName));
    setProperty("CompanyName", QString::fromUtf8(version::kCompanyName));
    setProperty("LegalCopyright", QString::fromUtf8(version::kLegalCopyright));
    QIcon icon(resources::kAppIcon);
    icon.addFile(resources::kAppIconLarge);
    setWindowIcon(icon);
}

bool CRepairApp::StartApplication(CAviFixer& engine) {
    if (!socketsStartup()) {
        ShowMessageBox(nullptr, QString::fromUtf8(strings::kSocketsFailed), QMessageBox::Warning);
        return false;
    }
    CRepairDlg dialog(engine);
    dialog.exec();
    return false;
}

int CRepairApp::EndApplication() {
    // Nothing is kept between runs: no settings to write.
    return 0;
}

} // namespace clipwright::ui
