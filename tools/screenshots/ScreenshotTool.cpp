// clipwright-screenshots OUTPUT_FOLDER: shows the program's real dialogs one after another on the
// running X display and saves each as it appears on screen, window frame included (tools/screenshots.sh
// runs it under Xvfb with a window manager).
#include "AboutDialog.h"
#include "Application.h"
#include "ImageSettingsDialog.h"
#include "MainDialog.h"
#include "ProgressWindow.h"
#include "ResultWindow.h"
#include "Strings.h"

#include <QDir>
#include <QEventLoop>
#include <QLabel>
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

// The path the main dialog shows in the pictures: a camera recording in an ordinary home folder.
const QString kExamplePath = QStringLiteral("/home/ana/Videos/cam01.avi");

void Wait(int milliseconds) {
    QEventLoop loop;
    QTimer::singleShot(milliseconds, &loop, &QEventLoop::quit);
    loop.exec();
}

// The window manager frames a new window a little after it shows, and moves it into its frame; a
// picture taken before would lack the frame or show the window out of place.
void WaitForFrame(QWidget* window) {
    if (window->frameGeometry() != window->geometry())
        return;
    for (int i = 0; i < 300 && window->frameGeometry() == window->geometry(); ++i)
        Wait(10);
    Wait(300);
}

bool SaveWindow(QWidget* window, const QString& path) {
    WaitForFrame(window);
    const QRect frame = window->frameGeometry();
    const QPixmap shot = window->screen()->grabWindow(0, frame.x(), frame.y(), frame.width(), frame.height());
    const bool saved = shot.save(path, "PNG");
    std::printf("%s %s (%dx%d)\n", saved ? "saved" : "FAILED", qPrintable(path), shot.width(), shot.height());
    return saved;
}

// Runs `dialog` modally and saves it once it is on screen.
bool Capture(const QString& path, QDialog& dialog) {
    bool saved = false;
    QTimer::singleShot(700, &dialog, [&] {
        saved = SaveWindow(&dialog, path);
        dialog.reject();
    });
    dialog.exec();
    return saved;
}

} // namespace

int main(int argc, char** argv) {
    Application app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: clipwright-screenshots OUTPUT_FOLDER\n");
        return 2;
    }
    const QDir out(QString::fromLocal8Bit(argv[1]));
    RepairEngine engine;
    MainDialog main(engine);
    // The picture of a job in progress needs a job that lasts: it waits until the picture is taken,
    // telling the window of a copy a third of the way through a 1 GB recording.
    std::atomic<bool> release{false};
    main.Job().SetRunner([&release](RepairEngine& fixer, FixRequest, std::stop_token stop) {
        constexpr uint64_t kTotal = uint64_t{1} << 30;
        fixer.Host()->Progress({ProgressPhase::Copying, kTotal / 10, kTotal});
        std::this_thread::sleep_for(std::chrono::milliseconds(1200));
        fixer.Host()->Progress({ProgressPhase::Copying, kTotal / 3, kTotal});
        while (!release.load() && !stop.stop_requested())
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    });
    main.ChooseFile(kExamplePath);
    main.show();
    Wait(800);
    bool ok = SaveWindow(&main, out.filePath(QStringLiteral("main-dialog.png")));

    AboutDialog about(&main);
    ok &= Capture(out.filePath(QStringLiteral("about-box.png")), about);

    ImageSettingsDialog prompt(&main);
    ok &= Capture(out.filePath(QStringLiteral("image-settings.png")), prompt);

    main.findChild<QPushButton*>(QStringLiteral("fixButton"))->click();
    Wait(1800);
    ok &= SaveWindow(&main, out.filePath(QStringLiteral("progress-window.png")));
    release = true;
    auto* progress = main.findChild<ProgressWindow*>();
    auto* status = progress != nullptr ? progress->findChild<QLabel*>(QStringLiteral("statusText")) : nullptr;
    const QString done = QString::fromUtf8(strings::kFixAviDone);
    for (int i = 0; i < 300 && status != nullptr && status->text() != done; ++i)
        Wait(10);
    ok &= SaveWindow(&main, out.filePath(QStringLiteral("progress-done.png")));
    Wait(600);

    // What two repairs wrote, as the window lists them after a run of several files.
    JobResult newFile{QStringLiteral("/home/ana/Videos/cam01.avi"), OutputMode::NewFile, {}};
    newFile.outcome.status = FixStatus::Repaired;
    newFile.outcome.outputPath = "/home/ana/Videos/fix_cam01.avi";
    JobResult replaced{QStringLiteral("/home/ana/Videos/cam02.avi"), OutputMode::ReplaceOriginal, {}};
    replaced.outcome.status = FixStatus::Repaired;
    replaced.outcome.outputPath = "/home/ana/Videos/cam02.avi";
    JobResult notRepaired{QStringLiteral("/home/ana/Videos/notes.avi"), OutputMode::NewFile, {}};
    notRepaired.outcome.status = FixStatus::Failed;
    auto* results = new ResultWindow(&main, {newFile, replaced, notRepaired});
    results->show();
    Wait(700);
    ok &= SaveWindow(results, out.filePath(QStringLiteral("results.png")));
    results->close();
    main.accept();
    return ok ? 0 : 1;
}
