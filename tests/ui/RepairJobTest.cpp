// Whole repairs through the real dialogs, from the Fix click to "Fix AVI done" and the closed
// progress window, with the files checked afterwards by the real readers; the progress window's
// frames and timing; the engine's prompts and error boxes during a job; failures of the job that are
// not file errors.
#include "FailingAllocations.h"
#include "FilesAndCommands.h"
#include "ImageSettingsDialog.h"
#include "MainDialog.h"
#include "ProgressWindow.h"
#include "Recordings.h"
#include "UiTestMain.h"
#include "UiTestSupport.h"

#include <QCheckBox>
#include <QDesktopServices>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTimer>
#include <QUrl>
#include <QtTest>
#include <atomic>
#include <filesystem>
#include <memory>
#include <optional>
#include <stdexcept>

namespace clipwright::ui::test {

namespace fs = std::filesystem;
using clipwright::test::CameraRecordingPlan;
using clipwright::test::DecodeErrors;
using clipwright::test::Probe;
using clipwright::test::ReadBytes;
using clipwright::test::ScratchDir;
using clipwright::test::WriteCameraRecording;

namespace {

constexpr int kJobTimeout = 30000;

CameraRecordingPlan CutOffRecording(recgen::HeaderLayout layout = recgen::HeaderLayout::Standard) {
    CameraRecordingPlan plan;
    plan.header.layout = layout;
    plan.sequence.videoFrameCount = 30;
    plan.sequence.repeatEvery = 7;
    return plan;
}

QString QPath(const fs::path& path) {
    return QString::fromStdString(path.string());
}

// One repair as the user runs it: what the progress window showed and when.
struct RepairRun {
    QList<int> frames;       // icon numbers, one per paint
    int framesAtFinish = -1; // frames painted when the job's end reached the progress window
    qint64 doneShownMs = -1; // when "Fix AVI done" appeared, from the Fix click
    qint64 closedMs = -1;    // when the window closed
    bool sawProgressWindow = false;
    QList<int> barValues; // the progress bar's, as they changed
};

enum class StartBy { Click, EnterKey };

// Starts a repair (a click on Fix, or Enter on whatever has the focus) and follows the progress
// window until it has closed and the main dialog is usable.
void RunRepair(MainDialog& dialog, RepairRun& run, StartBy start = StartBy::Click) {
    QElapsedTimer clock;
    clock.start();
    if (start == StartBy::EnterKey)
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    else
        Child<QPushButton>(&dialog, "fixButton")->click();
    QPointer<ProgressWindow> progress = dialog.findChild<ProgressWindow*>();
    QVERIFY(progress != nullptr);
    run.sawProgressWindow = true;
    QObject::connect(progress, &ProgressWindow::frameShown, &dialog,
                     [&run](int icon) { run.frames.append(icon); });
    QObject::connect(progress, &QDialog::finished, &dialog,
                     [&run, &clock] { run.closedMs = clock.elapsed(); });
    QObject::connect(progress, &ProgressWindow::jobEndReached, &dialog,
                     [&run] { run.framesAtFinish = static_cast<int>(run.frames.size()); });
    QObject::connect(Child<QProgressBar>(progress, "progressBar"), &QProgressBar::valueChanged, &dialog,
                     [&run](int value) { run.barValues.append(value); });
    auto* status = Child<QLabel>(progress, "statusText");
    while (progress != nullptr && run.doneShownMs < 0 && clock.elapsed() < kJobTimeout) {
        if (status->text() == QStringLiteral("Fix AVI done"))
            run.doneShownMs = clock.elapsed();
        QTest::qWait(5);
    }
    QTRY_VERIFY_WITH_TIMEOUT(progress == nullptr, kJobTimeout);
}

// What the GUI shows while a job runs, looked at on the GUI thread when the job asks.
class JobStartLook : public QObject {
    Q_OBJECT
public:
    explicit JobStartLook(MainDialog& dialog) : dialog_(dialog) {}
    bool progressShown = false;
    bool mainRefusesInput = false;

public slots:
    void Look() {
        auto* progress = dialog_.findChild<ProgressWindow*>();
        progressShown = progress != nullptr && progress->isVisible();
        mainRefusesInput = !Child<QPushButton>(&dialog_, "fixButton")->isEnabled();
    }

private:
    MainDialog& dialog_;
};

// Takes the files the desktop would open while it lives.
class UrlCatcher : public QObject {
    Q_OBJECT
public:
    UrlCatcher() { QDesktopServices::setUrlHandler(QStringLiteral("file"), this, "Catch"); }
    ~UrlCatcher() override { QDesktopServices::unsetUrlHandler(QStringLiteral("file")); }
    QList<QUrl> urls;

public slots:
    void Catch(const QUrl& url) { urls << url; }
};

void ExpectFrameCycle(const QList<int>& frames) {
    static const QList<int> order{134, 135, 129, 130, 131, 132};
    QVERIFY(!frames.isEmpty());
    for (qsizetype i = 0; i < frames.size(); ++i)
        QCOMPARE(frames[i], order[i % order.size()]);
}

} // namespace

class RepairJobTest : public QObject {
    Q_OBJECT

    // What every test starts from, made afresh for each: a folder of its own holding the camera's
    // recording, cut off, and an engine, with the main dialog on it once the test asks for one.
    std::optional<ScratchDir> dir;
    fs::path clip;
    recgen::RecordingSummary summary;
    std::optional<RepairEngine> engine;
    std::unique_ptr<MainDialog> mainDialog;

    void Record(const CameraRecordingPlan& plan) { summary = WriteCameraRecording(clip, plan); }
    // Not yet shown: a test may give the dialog's job a runner first.
    MainDialog& Dialog() {
        if (mainDialog == nullptr)
            mainDialog = std::make_unique<MainDialog>(*engine);
        return *mainDialog;
    }
    // Shown, with `file` picked in the real Open dialog as the user does.
    MainDialog& ShowWith(const fs::path& file) {
        Dialog().show();
        ChooseFileInMainDialog(mainDialog.get(), QPath(file));
        return *mainDialog;
    }

private slots:
    void init() {
        dir.emplace();
        clip = *dir / "clip.avi";
        Record(CutOffRecording());
        engine.emplace();
    }
    // The dialog goes first: its job may still use the engine and the folder.
    void cleanup() {
        mainDialog.reset();
        engine.reset();
        dir.reset();
        QTRY_VERIFY(VisibleTopLevelWindows().isEmpty());
    }

    void replaceModeRepairsTheRecordingInPlace() {
        MainDialog& dialog = ShowWith(clip);
        QTest::mouseClick(Child<QCheckBox>(&dialog, "replaceBox"), Qt::LeftButton);

        ModalWatcher noBoxes([](QWidget* modal) { QFAIL(qPrintable(modal->objectName())); });
        RepairRun run;
        RunRepair(dialog, run);
        QVERIFY(run.sawProgressWindow);
        QVERIFY(run.doneShownMs > 0);
        QCOMPARE(noBoxes.Seen(), 0);
        QVERIFY(!dialog.JobRunning());
        QVERIFY(Child<QPushButton>(&dialog, "fixButton")->isEnabled());

        QCOMPARE(dir->Names(), std::vector<std::string>{"clip.avi"});
        auto streams = Probe(clip);
        QCOMPARE(streams["video"].packets, summary.videoCount);
        QCOMPARE(streams["audio"].packets, summary.audioCount);
        QCOMPARE(DecodeErrors(clip), std::string());
        QCOMPARE(engine->LastOutcome().status, FixStatus::Repaired);
    }

    void anotherRecordersFileIsRepairedAndWhatWasFoundIsShown() {
        const fs::path other = *dir / "other.avi";
        // In a subshell: the output of the pipeline is the recording, not what RunCommand captures.
        const auto made = clipwright::test::RunCommand(
            "(ffmpeg -nostdin -v quiet -f lavfi -i testsrc=size=160x120:rate=15 -t 4 -c:v mpeg4 -g 10 -f avi "
            "pipe:1 | head -c 40000 > " +
            clipwright::test::ShellQuote(other.string()) + ")");
        QCOMPARE(made.exitStatus, 0);
        MainDialog& dialog = ShowWith(other);

        ModalWatcher boxes(ClickOk);
        RepairRun run;
        RunRepair(dialog, run);
        QCOMPARE(boxes.MessageTexts().size(), 1);
        QVERIFY2(
            boxes.MessageTexts()[0].startsWith(QStringLiteral("AVI from another recorder: 1 stream, ")) &&
                boxes.MessageTexts()[0].endsWith(
                    QStringLiteral(", index rebuilt in the new file \"fix_other.avi\".")),
            qPrintable(boxes.MessageTexts()[0]));
        QCOMPARE(engine->LastOutcome().status, FixStatus::Repaired);
        QCOMPARE(Probe(*dir / "fix_other.avi")["video"].packets, engine->LastOutcome().videoChunks);
    }

    void newFileModeWritesAFixCopyAndLeavesTheRecording() {
        clipwright::test::WriteBytes(*dir / "clip.sub", {'s', 'u', 'b'});
        const auto before = ReadBytes(clip);
        MainDialog& dialog = ShowWith(clip);

        RepairRun run;
        RunRepair(dialog, run);
        QVERIFY(run.doneShownMs > 0);
        QCOMPARE(ReadBytes(clip), before);
        QCOMPARE(dir->Names(),
                 (std::vector<std::string>{"clip.avi", "clip.sub", "fix_clip.avi", "fix_clip.sub"}));
        auto streams = Probe(*dir / "fix_clip.avi");
        QCOMPARE(streams["video"].packets, summary.videoCount);
        QCOMPARE(DecodeErrors(*dir / "fix_clip.avi"), std::string());
    }

    void bothBoxesClearRunsInNewFileMode() {
        MainDialog& dialog = ShowWith(clip);
        QTest::mouseClick(Child<QCheckBox>(&dialog, "newFileBox"), Qt::LeftButton);
        RepairRun run;
        RunRepair(dialog, run);
        QCOMPARE(dir->Names(), (std::vector<std::string>{"clip.avi", "fix_clip.avi"}));
    }

    void progressWindowTurnsTheStripAndFinishesWithOneMoreTurn() {
        RepairRun run;
        RunRepair(ShowWith(clip), run);
        // 134 first, then the cycle, 134 again after 132.
        ExpectFrameCycle(run.frames);
        QCOMPARE(run.frames.first(), 134);
        // The start tick, then six frames after the end was relayed: more than a whole turn.
        QVERIFY2(run.frames.size() >= 8, qPrintable(QString::number(run.frames.size())));
        QVERIFY(run.framesAtFinish >= 0);
        QCOMPARE(run.frames.size() - run.framesAtFinish, 6);
        // The bar rises through the phase and stands at 100 when "Fix AVI done" shows.
        QVERIFY(!run.barValues.isEmpty());
        QCOMPARE(run.barValues.last(), 100);
        // "Fix AVI done" stays up for the 200 ms pause, and the pause did not freeze the program.
        QVERIFY2(run.closedMs - run.doneShownMs >= 180,
                 qPrintable(QString::number(run.closedMs - run.doneShownMs)));
        QVERIFY(run.doneShownMs >= 800);
    }

    void theJobStartsOnTheAnnouncedWindowsFirstTick() {
        QElapsedTimer clock;
        qint64 startedMs = -1;
        JobStartLook look(Dialog());
        Dialog().Job().SetRunner([&](RepairEngine& fixer, FixRequest request, std::stop_token) {
            startedMs = clock.elapsed();
            // Looked at on the GUI thread; the window stays up until well after the job.
            QMetaObject::invokeMethod(&look, "Look", Qt::QueuedConnection);
            fixer.RunFixJob(std::move(request));
        });
        MainDialog& dialog = ShowWith(clip);
        clock.start();
        RepairRun run;
        RunRepair(dialog, run);
        QVERIFY(look.progressShown);
        QVERIFY(look.mainRefusesInput);
        QVERIFY2(startedMs >= 90, qPrintable(QString::number(startedMs)));
        QVERIFY(run.frames.size() >= 2);
        QCOMPARE(dir->Names(), (std::vector<std::string>{"clip.avi", "fix_clip.avi"}));
    }

    void aSecondRepairBehavesLikeTheFirst() {
        MainDialog& dialog = ShowWith(clip);
        RepairRun first;
        RunRepair(dialog, first);
        const auto afterFirst = ReadBytes(*dir / "fix_clip.avi");
        RepairRun second;
        RunRepair(dialog, second);
        QVERIFY(second.sawProgressWindow);
        QVERIFY(second.doneShownMs > 0);
        ExpectFrameCycle(second.frames);
        QCOMPARE(second.frames.size() - second.framesAtFinish, first.frames.size() - first.framesAtFinish);
        QCOMPARE(ReadBytes(*dir / "fix_clip.avi"), afterFirst);
        QVERIFY(!dialog.JobRunning());
    }

    void lostHeaderAsksForImageSettingsWithTheProgressWindowHidden() {
        // No repeated frames: the rebuild writes those without data, and players count no packet for them.
        CameraRecordingPlan plan = CutOffRecording(recgen::HeaderLayout::HeaderLost);
        plan.sequence.repeatEvery = 0;
        Record(plan);
        MainDialog& dialog = ShowWith(clip);
        QTest::mouseClick(Child<QCheckBox>(&dialog, "replaceBox"), Qt::LeftButton);

        bool progressHidden = false;
        bool mainRefusedInput = false;
        int framesDuringPrompt = -1;
        QList<int> framesWhileHidden;
        QMetaObject::Connection counting;
        QTimer hook;
        hook.callOnTimeout([&] {
            if (auto* progress = dialog.findChild<ProgressWindow*>(); progress != nullptr && !counting) {
                counting = QObject::connect(progress, &ProgressWindow::frameShown,
                                            [&](int icon) { framesWhileHidden.append(icon); });
            }
        });
        hook.start(1);
        ModalWatcher watcher([&](QWidget* modal) {
            auto* prompt = qobject_cast<ImageSettingsDialog*>(modal);
            QVERIFY(prompt != nullptr);
            auto* progress = dialog.findChild<ProgressWindow*>();
            progressHidden = progress != nullptr && !progress->isVisible();
            mainRefusedInput = !Child<QPushButton>(&dialog, "fixButton")->isEnabled() && dialog.JobRunning();
            // Ticks go on while the window is hidden, but paint nothing.
            const auto framesBefore = framesWhileHidden.size();
            QTest::qWait(350);
            framesDuringPrompt = static_cast<int>(framesWhileHidden.size() - framesBefore);
            // A hidden progress window blocks nothing: the main dialog must refuse Escape itself.
            QTest::keyClick(&dialog, Qt::Key_Escape);
            QVERIFY(dialog.isVisible());
            QTest::mouseClick(Child<QPushButton>(prompt, "nextButton"), Qt::LeftButton);
        });
        RepairRun run;
        RunRepair(dialog, run);
        QCOMPARE(watcher.Seen(), 1);
        QVERIFY(progressHidden);
        QVERIFY(mainRefusedInput);
        QCOMPARE(framesDuringPrompt, 0);
        QVERIFY(!framesWhileHidden.isEmpty());
        QObject::disconnect(counting);
        QVERIFY(run.doneShownMs > 0);
        // The prompt switches the job to "Make new file".
        QCOMPARE(dir->Names(), (std::vector<std::string>{"clip.avi", "fix_clip.avi"}));
        auto streams = Probe(*dir / "fix_clip.avi");
        QCOMPARE(streams["video"].width, 640u);
        QCOMPARE(streams["video"].height, 480u);
        QCOMPARE(streams["video"].frameRate, std::string("15/1"));
        QCOMPARE(streams["video"].packets, summary.videoCount);
        QCOMPARE(DecodeErrors(*dir / "fix_clip.avi"), std::string());
        QVERIFY(Child<QPushButton>(&dialog, "fixButton")->isEnabled());
        // "Replace original file" was ticked: the result says where the repair went instead.
        QPointer<ResultWindow> results = dialog.findChild<ResultWindow*>();
        QVERIFY(results != nullptr);
        const QString line = Child<QListWidget>(results, "resultList")->item(0)->text();
        QVERIFY2(line.startsWith(QStringLiteral("clip.avi: repaired (new file) ") +
                                 QPath(*dir / "fix_clip.avi")) &&
                     line.endsWith(QStringLiteral("so it was written as a new file, not over the original.")),
                 qPrintable(line));
    }

    void cancelledImageSettingsEndTheJobWithTheWindowHidden() {
        Record(CutOffRecording(recgen::HeaderLayout::HeaderLost));
        MainDialog& dialog = ShowWith(clip);

        ModalWatcher watcher([](QWidget* modal) {
            auto* prompt = qobject_cast<ImageSettingsDialog*>(modal);
            QVERIFY(prompt != nullptr);
            QTest::keyClick(prompt, Qt::Key_Escape);
        });
        RepairRun run;
        RunRepair(dialog, run);
        QCOMPARE(watcher.Seen(), 1);
        QVERIFY(run.doneShownMs > 0);
        QCOMPARE(engine->LastOutcome().status, FixStatus::Cancelled);
        QCOMPARE(dir->Names(), std::vector<std::string>{"clip.avi"});
        QVERIFY(Child<QPushButton>(&dialog, "fixButton")->isEnabled());
    }

    void aRecordingChosenInThePromptStandsInForTheLostHeader() {
        Record(CutOffRecording(recgen::HeaderLayout::HeaderLost));
        // A healthy recording of the same camera, at another rate than the prompt would offer.
        CameraRecordingPlan healthy;
        healthy.header.videoRate = 10000;
        healthy.sequence.frameRate = 10000;
        healthy.finish = recgen::FinishOptions::Finalised();
        const fs::path reference = *dir / "good.avi";
        WriteCameraRecording(reference, healthy);
        MainDialog& dialog = ShowWith(clip);

        QStringList seen;
        ModalWatcher watcher([&](QWidget* modal) {
            seen << modal->objectName();
            if (auto* prompt = qobject_cast<ImageSettingsDialog*>(modal)) {
                // Clicked once the watcher has returned: the chooser opens its own modal loop.
                QTimer::singleShot(0, Child<QPushButton>(prompt, "referenceButton"), &QPushButton::click);
            } else if (auto* chooser = qobject_cast<QFileDialog*>(modal)) {
                chooser->selectFile(QPath(reference));
                // The name field has the focus, so selectFile() leaves it alone: type the name.
                chooser->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))
                    ->setText(QStringLiteral("good.avi"));
                QTRY_VERIFY(!chooser->selectedFiles().isEmpty());
                static_cast<QDialog*>(chooser)->accept();
            }
        });
        RepairRun run;
        RunRepair(dialog, run);
        QCOMPARE(seen, (QStringList{"imageSettingsDialog", "referenceDialog"}));
        QCOMPARE(engine->LastOutcome().status, FixStatus::Repaired);
        QCOMPARE(engine->LastOutcome().reference, reference.string());
        auto streams = Probe(*dir / "fix_clip.avi");
        QCOMPARE(streams["video"].width, 640u);
        QCOMPARE(streams["video"].frameRate, std::string("10/1"));
        QCOMPARE(streams["audio"].codecName, std::string("adpcm_ms"));
    }

    void fileErrorsAreShownAndTheJobStillEnds() {
        MainDialog& dialog = ShowWith(clip);
        fs::remove(clip);

        QStringList captions;
        QList<bool> progressUp;
        ModalWatcher watcher([&](QWidget* modal) {
            captions << modal->windowTitle();
            auto* progress = dialog.findChild<ProgressWindow*>();
            progressUp << (progress != nullptr && progress->isVisible());
            QCOMPARE(qobject_cast<QMessageBox*>(modal)->icon(), QMessageBox::Warning);
            ClickOk(modal);
        });
        RepairRun run;
        RunRepair(dialog, run);
        // The probe meets the missing file and says so once.
        QCOMPARE(watcher.MessageTexts(), (QStringList{"ERROR: The file could not be located."}));
        QCOMPARE(captions, (QStringList{"Clipwright"}));
        QCOMPARE(progressUp, (QList<bool>{true}));
        QVERIFY(run.doneShownMs > 0);
        QVERIFY(Child<QPushButton>(&dialog, "fixButton")->isEnabled());
    }

    void escapeAndEnterCannotDismissTheProgressWindowDuringAJob() {
        JobHold hold;
        Dialog().Job().SetRunner(hold.Runner());
        MainDialog& dialog = ShowWith(clip);
        Child<QPushButton>(&dialog, "fixButton")->click();
        QPointer<ProgressWindow> progress = dialog.findChild<ProgressWindow*>();
        QVERIFY(progress != nullptr);
        QVERIFY(QTest::qWaitForWindowExposed(progress));
        QTRY_VERIFY(hold.Started());
        for (Qt::Key key : {Qt::Key_Escape, Qt::Key_Return, Qt::Key_Enter}) {
            QTest::keyClick(progress, key);
            QVERIFY(progress != nullptr && progress->isVisible());
        }
        QVERIFY(!progress->close());
        QTest::keyClick(&dialog, Qt::Key_Escape);
        {
            // Closing the dialog asks first; "No" lets the job go on.
            ModalWatcher no(
                [](QWidget* modal) { qobject_cast<QMessageBox*>(modal)->button(QMessageBox::No)->click(); });
            QVERIFY(!dialog.close());
            QCOMPARE(no.MessageTexts(),
                     QStringList{"A repair is running. Stop it and leave the recording as it was?"});
        }
        QVERIFY(dialog.isVisible());
        QVERIFY(!Child<QPushButton>(&dialog, "fixButton")->isEnabled());
        QTest::qWait(300);
        QVERIFY(progress != nullptr && progress->isVisible());

        hold.Release();
        QTRY_VERIFY_WITH_TIMEOUT(progress == nullptr, kJobTimeout);
        QCOMPARE(dir->Names(), (std::vector<std::string>{"clip.avi", "fix_clip.avi"}));
        QVERIFY(Child<QPushButton>(&dialog, "fixButton")->isEnabled());
    }

    void aFailureThatIsNoFileErrorIsToldAndTheJobEnds_data() {
        QTest::addColumn<int>("failure");
        QTest::addColumn<QString>("expectedStart");
        QTest::newRow("out of memory")
            << 0 << QStringLiteral("The repair stopped because there was not enough memory.");
        QTest::newRow("unexpected exception")
            << 1 << QStringLiteral("The repair stopped because of an unexpected error.");
        // Nothing may be allocated while the failure is caught: memory is short until then.
        QTest::newRow("memory short until caught")
            << 2 << QStringLiteral("The repair stopped because there was not enough memory.");
    }
    void aFailureThatIsNoFileErrorIsToldAndTheJobEnds() {
        QFETCH(int, failure);
        QFETCH(QString, expectedStart);
        if (failure == 2 && !MemoryRunsOut::FailsAllocations())
            QSKIP("allocations cannot be made to fail in this build");
        Dialog().Job().SetRunner([failure](RepairEngine&, FixRequest, std::stop_token) {
            if (failure == 0)
                throw std::bad_alloc();
            if (failure == 2)
                throw MemoryRunsOut();
            throw std::runtime_error("chunk table broken");
        });
        MainDialog& dialog = ShowWith(clip);
        ModalWatcher watcher([](QWidget* modal) { ClickOk(modal); });
        RepairRun run;
        RunRepair(dialog, run);
        QCOMPARE(watcher.MessageTexts().size(), 1);
        QVERIFY2(watcher.MessageTexts().first().startsWith(expectedStart),
                 qPrintable(watcher.MessageTexts().first()));
        QVERIFY(run.doneShownMs > 0);
        QVERIFY(!dialog.JobRunning());

        // The next repair runs normally.
        dialog.Job().SetRunner({});
        RepairRun next;
        RunRepair(dialog, next);
        QCOMPARE(dir->Names(), (std::vector<std::string>{"clip.avi", "fix_clip.avi"}));
    }

    void enterAfterARepairStartsTheNextOneInsteadOfClosing() {
        MainDialog& dialog = Dialog();
        dialog.show();
        QVERIFY(QTest::qWaitForWindowActive(&dialog));
        ChooseFileInMainDialog(&dialog, QPath(clip));
        RepairRun first;
        RunRepair(dialog, first);
        // The result window has the focus until it is closed; then Fix has it back.
        QPointer<ResultWindow> results = dialog.findChild<ResultWindow*>();
        QVERIFY(results != nullptr);
        results->close();
        QTRY_VERIFY(results == nullptr);
        // Exit is the default button; the focus must be on Fix.
        QTRY_COMPARE(QApplication::focusWidget(), Child<QPushButton>(&dialog, "fixButton"));
        RepairRun second;
        RunRepair(dialog, second, StartBy::EnterKey);
        QVERIFY(second.sawProgressWindow);
        QVERIFY(dialog.isVisible());
    }

    void fixWhileAJobRunsDoesNothing() {
        MainDialog& dialog = Dialog();
        JobHold hold;
        dialog.Job().SetRunner(hold.Runner());
        dialog.ChooseFile(QPath(clip));
        dialog.show();
        // Disabled controls are not the guard: Fix itself is, before and after the job has started.
        dialog.OnFix();
        dialog.OnFix();
        QTRY_VERIFY(hold.Started());
        dialog.OnFix();
        QCOMPARE(dialog.findChildren<ProgressWindow*>().size(), 1);
        QVERIFY(!dialog.Job().Start(FixRequest{}));
        hold.Release();
        QTRY_VERIFY_WITH_TIMEOUT(!dialog.JobRunning(), kJobTimeout);
        QCOMPARE(hold.Starts(), 1);
        QCOMPARE(dir->Names(), (std::vector<std::string>{"clip.avi", "fix_clip.avi"}));
    }

    // What the job waits for when the dialog goes: the prompt, a file error box, or only its own work.
    void destroyingTheDialogDuringAJobStopsTheJob_data() {
        QTest::addColumn<QString>("waitingFor");
        QTest::newRow("image settings prompt") << "prompt";
        QTest::newRow("file error box") << "box";
        QTest::newRow("held job") << "hold";
    }
    void destroyingTheDialogDuringAJobStopsTheJob() {
        QFETCH(QString, waitingFor);
        if (waitingFor == "prompt")
            Record(CutOffRecording(recgen::HeaderLayout::HeaderLost));
        const auto recording = ReadBytes(clip);
        JobHold hold;
        if (waitingFor == "hold")
            Dialog().Job().SetRunner(hold.Runner());
        Dialog().ChooseFile(QPath(clip));
        if (waitingFor == "box")
            fs::rename(clip, *dir / "elsewhere.avi");
        mainDialog->show();
        auto destroy = [this] {
            HangGuard guard("Destroying the main dialog during a job", 60);
            mainDialog.reset();
        };
        ModalWatcher watcher([&](QWidget*) { destroy(); });
        Child<QPushButton>(mainDialog.get(), "fixButton")->click();
        if (waitingFor == "hold") {
            QTRY_VERIFY(hold.Started());
            destroy();
        }
        QTRY_VERIFY_WITH_TIMEOUT(mainDialog == nullptr, kJobTimeout);
        QCOMPARE(engine->Host(), nullptr);
        const fs::path kept = waitingFor == "box" ? *dir / "elsewhere.avi" : clip;
        QCOMPARE(dir->Names(), std::vector<std::string>{kept.filename().string()});
        QCOMPARE(ReadBytes(kept), recording);
    }

    // Cancel in the middle of the copy that replaces a recording: it waits as tmp_NAME meanwhile, and
    // must be back under its own name, unchanged, with no partial file beside it.
    void cancelDuringAReplacingRebuildLeavesTheRecordingAsItWas() {
        CameraRecordingPlan plan = CutOffRecording(recgen::HeaderLayout::Shifted);
        plan.sequence.videoFrameCount = 12000;
        Record(plan);
        const auto recording = ReadBytes(clip);
        MainDialog& dialog = ShowWith(clip);
        Child<QCheckBox>(&dialog, "replaceBox")->click();
        QList<ProgressPhase> phases;
        QObject::connect(&dialog.Job(), &RepairJob::progressReported, &dialog,
                         [&](ProgressPhase phase, quint64 done, quint64 total) {
                             QVERIFY(done <= total);
                             phases << phase;
                             auto* cancel = dialog.findChild<QPushButton*>("cancelButton");
                             if (phase == ProgressPhase::Copying && cancel->isEnabled())
                                 cancel->click();
                         });
        ModalWatcher noBoxes(ClickOk);
        RepairRun run;
        RunRepair(dialog, run);
        QVERIFY(phases.contains(ProgressPhase::Reading));
        QVERIFY(phases.contains(ProgressPhase::Copying));
        QCOMPARE(engine->LastOutcome().status, FixStatus::Cancelled);
        QCOMPARE(dir->Names(), std::vector<std::string>{"clip.avi"});
        QVERIFY(ReadBytes(clip) == recording);
        QCOMPARE(noBoxes.Seen(), 0);
        QCOMPARE(dialog.findChild<ResultWindow*>(), nullptr);
    }

    // Closing the dialog during a job asks; "Yes" stops the job and then ends the dialog.
    void closingDuringAJobAndAnsweringYesStopsItAndCloses() {
        JobHold hold;
        Dialog().Job().SetRunner(hold.Runner());
        MainDialog& dialog = ShowWith(clip);
        Child<QPushButton>(&dialog, "fixButton")->click();
        QTRY_VERIFY(hold.Started());
        {
            ModalWatcher yes(
                [](QWidget* modal) { qobject_cast<QMessageBox*>(modal)->button(QMessageBox::Yes)->click(); });
            QVERIFY(!dialog.close());
            QTRY_COMPARE(yes.Seen(), 1);
        }
        QVERIFY(dialog.Job().CancelRequested());
        hold.Release();
        QTRY_VERIFY_WITH_TIMEOUT(!dialog.isVisible(), kJobTimeout);
        QCOMPARE(engine->LastOutcome().status, FixStatus::Cancelled);
        QCOMPARE(dir->Names(), std::vector<std::string>{"clip.avi"});
    }

    // Several files run one after the other, each as a single one does (a missing one has its box),
    // then one window lists every result; Open Folder and Play hand the chosen output to the desktop.
    void severalFilesAreRepairedInTurnAndOneWindowListsWhereEachWent() {
        const fs::path second = *dir / "second.avi";
        WriteCameraRecording(second, CutOffRecording(recgen::HeaderLayout::Shifted));
        MainDialog& dialog = Dialog();
        dialog.show();
        dialog.ChooseFiles({QPath(clip), QPath(*dir / "missing.avi"), QPath(second)});
        ModalWatcher boxes(ClickOk);
        UrlCatcher opened;
        RepairRun run;
        RunRepair(dialog, run);
        QTRY_VERIFY_WITH_TIMEOUT(!dialog.JobRunning() && dialog.findChild<ResultWindow*>() != nullptr,
                                 3 * kJobTimeout);
        QCOMPARE(boxes.MessageTexts(), QStringList{"ERROR: The file could not be located."});
        QCOMPARE(dir->Names(),
                 (std::vector<std::string>{"clip.avi", "fix_clip.avi", "fix_second.avi", "second.avi"}));

        QPointer<ResultWindow> results = dialog.findChild<ResultWindow*>();
        QVERIFY(results != nullptr);
        QTRY_VERIFY(results->isVisible());
        auto* list = Child<QListWidget>(results, "resultList");
        QCOMPARE(list->count(), 3);
        const QString fixClip = QPath(*dir / "fix_clip.avi");
        QCOMPARE(list->item(0)->text(), QStringLiteral("clip.avi: repaired (new file) ") + fixClip);
        QCOMPARE(list->item(1)->text(), QStringLiteral("missing.avi: not repaired"));
        QVERIFY(list->item(2)->text().endsWith(QPath(*dir / "fix_second.avi")));
        Child<QPushButton>(results, "playButton")->click();
        Child<QPushButton>(results, "openFolderButton")->click();
        QCOMPARE(opened.urls,
                 (QList<QUrl>{QUrl::fromLocalFile(fixClip), QUrl::fromLocalFile(QPath(dir->Path()))}));
        list->setCurrentRow(1);
        QVERIFY(!Child<QPushButton>(results, "playButton")->isEnabled());
        results->close();
    }

    // A folder that takes no new file is named with its cause, and the box offers another folder;
    // the recording is then repaired into the folder chosen, which later repairs keep.
    void aRefusingFolderOffersAnotherAndTheRepairRunsAgainThere() {
        const fs::path notAFolder = *dir / "notes";
        clipwright::test::WriteBytes(notAFolder, {'n'});
        fs::create_directory(*dir / "out");
        const QString out = QPath(*dir / "out");
        MainDialog& dialog = ShowWith(clip);
        dialog.SetOutputFolder(QPath(notAFolder));
        QStringList texts;
        ModalWatcher answers([&](QWidget* modal) {
            if (auto* box = qobject_cast<QMessageBox*>(modal)) {
                texts << box->text();
                Child<QPushButton>(box, "chooseFolderButton")->click();
            } else if (auto* chooser = qobject_cast<QFileDialog*>(modal)) {
                chooser->setDirectory(out);
                QTRY_COMPARE(chooser->selectedFiles(), QStringList{out});
                static_cast<QDialog*>(chooser)->accept();
            }
        });
        RepairRun run;
        RunRepair(dialog, run);
        QTRY_VERIFY_WITH_TIMEOUT(!dialog.JobRunning(), kJobTimeout);
        QCOMPARE(texts.size(), 1);
        QVERIFY2(texts[0].contains(QPath(notAFolder)) && texts[0].contains(QStringLiteral("Not a directory")),
                 qPrintable(texts[0]));
        QCOMPARE(dialog.OutputFolder(), out);
        QVERIFY(fs::exists(*dir / "out" / "fix_clip.avi"));
        QCOMPARE(dir->Names(), (std::vector<std::string>{"clip.avi", "notes", "out"}));
        QPointer<ResultWindow> results = dialog.findChild<ResultWindow*>();
        QVERIFY(results != nullptr);
        QCOMPARE(Child<QListWidget>(results, "resultList")->item(0)->text(),
                 QStringLiteral("clip.avi: repaired (new file) ") + QPath(*dir / "out" / "fix_clip.avi"));
    }

    // The job asks for image settings; nobody answers. It must go on as after "Cancel".
    void anUnansweredQuestionIsTakenAsCancel_data() {
        QTest::addColumn<QString>("receiver");
        QTest::newRow("nobody listens") << "none";
        QTest::newRow("handler failed") << "throws";
        QTest::newRow("job stopped while asking") << "keeps";
    }
    void anUnansweredQuestionIsTakenAsCancel() {
        QFETCH(QString, receiver);
        Record(CutOffRecording(recgen::HeaderLayout::HeaderLost));
        RepairJob job(*engine);
        QList<ImageSettingsReply> kept;
        if (receiver == "throws")
            QObject::connect(&job, &RepairJob::imageSettingsRequested, &job,
                             [](const std::optional<ImageSettings>&, ImageSettingsReply reply) {
                                 try {
                                     const ImageSettingsReply held = reply;
                                     throw std::runtime_error("the prompt could not be made");
                                 } catch (const std::runtime_error&) {
                                 }
                             });
        if (receiver == "keeps")
            QObject::connect(
                &job, &RepairJob::imageSettingsRequested, &job,
                [&kept](const std::optional<ImageSettings>&, ImageSettingsReply reply) { kept << reply; });
        QSignalSpy finished(&job, &RepairJob::finished);
        HangGuard guard("A job asking a question nobody answers", 60);
        QVERIFY(job.Start(FixRequest{clip.string(), "clip.avi", OutputMode::NewFile}));
        if (receiver == "keeps") {
            QTRY_COMPARE(kept.size(), 1);
            job.Stop();
        } else {
            QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 1, kJobTimeout);
        }
        QVERIFY(!job.IsRunning());
        QCOMPARE(engine->LastOutcome().status, FixStatus::Cancelled);
        QCOMPARE(dir->Names(), std::vector<std::string>{"clip.avi"});
    }
};

CLIPWRIGHT_UI_TEST(RepairJobTest);

} // namespace clipwright::ui::test

#include "RepairJobTest.moc"
