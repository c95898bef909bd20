#include "Application.h"

#include "ClipwrightVersion.h"

#include "MainDialog.h"
#include "MessageBoxes.h"
#include "Resources.h"
#include "Strings.h"

// Outside any namespace, as the resource system requires.
static void LoadProgramResources() {
    Q_INIT_RESOURCE(clipwright);
}

namespace clipwright::ui {

Application::Application(int& argc, char** argv) : QApplication(argc, argv) {
    LoadProgramResources();
    setApplicationName(QString::fromUtf8(version::kInternalName));
    setApplicationVersion(QString::fromUtf8(kProgramVersion));
    setOrganizationName(QString::fromUtf8(version::kCompanyName));
    // Matches the installed desktop entry, so desktops put the window under its menu entry.
    setDesktopFileName(QStringLiteral("com.norvale.Clipwright"));
    setProperty("Comments", QString::fromUtf8(version::kComments));
    setProperty("FileDescription", QString::fromUtf8(version::kFileDescription));
    setProperty("FileVersion", QString::fromUtf8(version::kVersionText));
    setProperty("ProductVersion", QString::fromUtf8(version::kVersionText));
    setProperty("InternalName", QString::fromUtf8(version::kInternalName));
    setProperty("OriginalFilename", QString::fromUtf8(version::kOriginalFilename));
    setProperty("ProductName", QString::fromUtf8(version::kProductName));
    setProperty("CompanyName", QString::fromUtf8(version::kCompanyName));
    setProperty("LegalCopyright", QString::fromUtf8(version::kLegalCopyright));
    setWindowIcon(resources::AppIcon());
}

int Application::Run(RepairEngine& engine, const QStringList& files) {
    if (!socketsStartup()) {
        ShowMessageBox(nullptr, QString::fromUtf8(strings::kSocketsFailed), QMessageBox::Warning);
        return 1;
    }
    MainDialog dialog(engine);
    dialog.ChooseFiles(files);
    // Which button closed the dialog does not matter: either ends the program. Nothing is kept
    // between runs, so there are no settings to write.
    dialog.exec();
    return 0;
}

} // namespace clipwright::ui
