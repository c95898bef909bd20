// clipwright-screenshots OUTPUT_FOLDER: shows the program's real dialogs one after another on the
// running X display and saves each as it appears on screen, window frame included (tools/screenshots.sh
// runs it under Xvfb with a window manager).
#include "CAboutDlg.h"
#include "CImageSettingDlg.h"
#include "CProgressDlg.h"
#include "CRepairApp.h"
#include "CRepairDlg.h"

#include <QDir>
#include <QEventLoop>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>

using namespace clipwright;
using namespace clipwright::ui;

namespace {

void Wait(int milliseconds) {
    QEventLoop loop;
    QTimer::singleShot(milliseconds, &loop, &QEventLoop::quit);
    loop.exec();
}

bool SaveWindow(QWidget* window, const QString& path) {
    const QRect frame = window->frameGeometry();
    const QPixmap shot = window->screen()->grabWindow(0, frame.x(), frame.y(), frame.width(), frame.height());
    const bool saved = shot.save(path, "PNG");
    std::printf("%s %s (%dx%d)\n", saved ? "saved" : "FAILED", qPrintable(path), shot.width(), shot.height());
    return saved;
}

// Runs `show` (which may open a modal window) and saves `window()` once it is on screen.
template <typename Show, typename Window> bool Capture(const QString& path, Show show, Window window) {
    bool saved = false;
    QTimer::singleShot(700, [&] {
        saved = SaveWindow(window(), path);
        if (auto* dialog = qobject_cast<QDialog*>(window()))
            dialog->reject();
    });
    show();
    return saved;
}

} // namespace

int main(int argc, char** argv) {
    CRepairApp app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: clipwright-screenshots OUTPUT_FOLDER\n");
        return 2;
    }
    const QDir out(QString::fromLocal8Bit(argv[1]));
    CAviFixer engine;
    CRepairDlg main(engine);
    // The picture of a job in progress needs a job that lasts: it waits until the picture is taken.
    std::atomic<bool> release{false};
    main.SetJobRunner([&release](CAviFixer&, FixRequest) {
        while (!release.load())
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    });
    main.findChild<QLineEdit*>(QStringLiteral("pathEdit"))
        ->setText(QStringLiteral("/home/ana/Videos/cam01.avi"));
    main.show();
    Wait(800);
    bool ok = SaveWindow(&main, out.filePath(QStringLiteral("main-dialog.png")));

    CAboutDlg about(&main);
    ok &= Capture(
        out.filePath(QStringLiteral("about-box.png")), [&] { about.exec(); }, [&] { return &about; });

    CImageSettingDlg prompt(&main);
    ok &= Capture(
        out.filePath(QStringLiteral("image-settings.png")), [&] { prompt.exec(); }, [&] { return &prompt; });

    main.findChild<QPushButton*>(QStringLiteral("fixButton"))->click();
    Wait(750);
    ok &= SaveWindow(&main, out.filePath(QStringLiteral("progress-window.png")));
    release = true;
    auto* progress = main.findChild<CProgressDlg*>(QStringLiteral("progressDialog"));
    auto* status = progress != nullptr ? progress->findChild<QLabel*>(QStringLiteral("statusText")) : nullptr;
    for (int i = 0; i < 300 && status != nullptr && status->text() != QStringLiteral("Fix AVI done"); ++i)
        Wait(10);
    ok &= SaveWindow(&main, out.filePath(QStringLiteral("progress-done.png")));
    Wait(600);
    main.accept();
    return ok ? 0 : 1;
}
