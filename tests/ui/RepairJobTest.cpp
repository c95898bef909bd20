// Whole repairs through the real dialogs, from the Fix click to "Fix AVI done" and the closed
// progress window, with the files checked afterwards by the real readers; the progress window's
// frames and timing; the engine's prompts and error boxes during a job; failures of the job that are
// not file errors.
#include "CImageSettingDlg.h"
#include "CProgressDlg.h"
#include "CRepairDlg.h"
#include "GuiThreadCall.h"
#include "PrivateMessages.h"
#include "Recordings.h"
#include "TestFiles.h"
#include "UiTestMain.h"
#include "UiTestSupport.h"

#include <QCheckBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <QtTest>
#include <atomic>
#include <filesystem>
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
};

// Notes how many frames had been painted when the job's end reached the progress window.
class FinishWatch : public QObject {
public:
    explicit FinishWatch(RepairRun& run) : run_(run) {}
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == WM_FIX_FINISHED)
            run_.framesAtFinish = static_cast<int>(run_.frames.size());
        return QObject::eventFilter(watched, event);
    }

private:
    RepairRun& run_;
};

// Clicks Fix and follows the progress window until it has closed and the main dialog is usable.
void RunRepair(CRepairDlg& dialog, RepairRun& run) {
    QElapsedTimer clock;
    clock.start();
    Child<QPushButton>(&dialog, "fixButton")->click();
    QPointer<CProgressDlg> progress = dialog.findChild<CProgressDlg*>(QStringLiteral("progressDialog"));
    QVERIFY(progress != nullptr);
    run.sawProgressWindow = true;
    QObject::connect(progress, &CProgressDlg::frameShown, &dialog,
                     [&run](int icon) { run.frames.append(icon); });
    QObject::connect(progress, &QDialog::finished, &dialog,
                     [&run, &clock] { run.closedMs = clock.elapsed(); });
    auto* status = Child<QLabel>(progress, "statusText");
    FinishWatch finishWatch(run);
    progress->installEventFilter(&finishWatch);
    while (progress != nullptr && run.doneShownMs < 0 && clock.elapsed() < kJobTimeout) {
        if (status->text() == QStringLiteral("Fix AVI done"))
            run.doneShownMs = clock.elapsed();
        QTest::qWait(5);
    }
    QTRY_VERIFY_WITH_TIMEOUT(progress == nullptr, kJobTimeout);
}

void ExpectFrameCycle(const QList<int>& frames) {
    static const QList<int> order{134, 135, 129, 130, 131, 132};
    QVERIFY(!frames.isEmpty());
    for (qsizetype i = 0; i < frames.size(); ++i)
        QCOMPARE(frames[i], order[i % order.size()]);
}

} // namespace

class RepairJobTest : public QObject {
    Q_OBJECT

private slots:
    void init() {
        g_resolutionChoice = 0;
        g_frameRateChoice = 0;
    }
    void cleanup() {
        QTRY_VERIFY(VisibleTopLevelWindows().isEmpty());
        QCOMPARE(g_finishTicks, 0);
    }

    void replaceModeRepairsTheRecordingInPlace() {
        ScratchDir dir;
        const fs::path clip = dir / "clip.avi";
        const auto summary = WriteCameraRecording(clip, CutOffRecording());
        CAviFixer engine;
        CRepairDlg dialog(engine);
        dialog.show();
        ChooseFileInMainDialog(&dialog, QPath(clip));
        QTest::mouseClick(Child<QCheckBox>(&dialog, "replaceBox"), Qt::LeftButton);

        ModalWatcher noBoxes([](QWidget* modal) { QFAIL(qPrintable(modal->objectName())); });
        RepairRun run;
        RunRepair(dialog, run);
        QVERIFY(run.sawProgressWindow);
        QVERIFY(run.doneShownMs > 0);
        QCOMPARE(noBoxes.Seen(), 0);
        QVERIFY(!dialog.JobRunning());
        QVERIFY(Child<QPushButton>(&dialog, "fixButton")->isEnabled());

        QCOMPARE(dir.Names(), std::vector<std::string>{"clip.avi"});
        auto streams = Probe(clip);
        QCOMPARE(streams["video"].packets, summary.videoCount);
        QCOMPARE(streams["audio"].packets, summary.audioCount);
        QCOMPARE(DecodeErrors(clip), std::string());
        QCOMPARE(engine.LastOutcome().status, FixStatus::Repaired);
        QVERIFY(dialog.IndexEntries().empty());
    }

    void newFileModeWritesAFixCopyAndLeavesTheRecording() {
        ScratchDir dir;
        const fs::path clip = dir / "clip.avi";
        const auto summary = WriteCameraRecording(clip, CutOffRecording());
        clipwright::test::WriteBytes(dir / "clip.sub", {'s', 'u', 'b'});
        const auto before = ReadBytes(clip);
        CAviFixer engine;
        CRepairDlg dialog(engine);
        dialog.show();
        ChooseFileInMainDialog(&dialog, QPath(clip));

        RepairRun run;
        RunRepair(dialog, run);
        QVERIFY(run.doneShownMs > 0);
        QCOMPARE(ReadBytes(clip), before);
        QCOMPARE(dir.Names(),
                 (std::vector<std::string>{"clip.avi", "clip.sub", "fix_clip.avi", "fix_clip.sub"}));
        auto streams = Probe(dir / "fix_clip.avi");
        QCOMPARE(streams["video"].packets, summary.videoCount);
        QCOMPARE(DecodeErrors(dir / "fix_clip.avi"), std::string());
    }

    void bothBoxesClearRunsInNewFileMode() {
        ScratchDir dir;
        const fs::path clip = dir / "clip.avi";
        WriteCameraRecording(clip, CutOffRecording());
        CAviFixer engine;
        CRepairDlg dialog(engine);
        dialog.show();
        ChooseFileInMainDialog(&dialog, QPath(clip));
        QTest::mouseClick(Child<QCheckBox>(&dialog, "newFileBox"), Qt::LeftButton);
        RepairRun run;
        RunRepair(dialog, run);
        QCOMPARE(dir.Names(), (std::vector<std::string>{"clip.avi", "fix_clip.avi"}));
    }

    void progressWindowTurnsTheStripAndFinishesWithOneMoreTurn() {
        ScratchDir dir;
        const fs::path clip = dir / "clip.avi";
        WriteCameraRecording(clip, CutOffRecording());
        CAviFixer engine;
        CRepairDlg dialog(engine);
        dialog.show();
        ChooseFileInMainDialog(&dialog, QPath(clip));

        RepairRun run;
        RunRepair(dialog, run);
        // 134 first, then the cycle, 134 again after 132.
        ExpectFrameCycle(run.frames);
        QCOMPARE(run.frames.first(), 134);
        // The start tick, then six frames after the end was relayed: more than a whole turn.
        QVERIFY2(run.frames.size() >= 8, qPrintable(QString::number(run.frames.size())));
        QVERIFY(run.framesAtFinish >= 0);
        QCOMPARE(run.frames.size() - run.framesAtFinish, 6);
        // "Fix AVI done" stays up for the 200 ms pause, and the pause did not freeze the program.
        QVERIFY2(run.closedMs - run.doneShownMs >= 180,
                 qPrintable(QString::number(run.closedMs - run.doneShownMs)));
        QVERIFY(run.doneShownMs >= 800);
    }

    void theJobStartsOnTheAnnouncedWindowsFirstTick() {
        ScratchDir dir;
        const fs::path clip = dir / "clip.avi";
        WriteCameraRecording(clip, CutOffRecording());
        CAviFixer engine;
        CRepairDlg dialog(engine);
        QElapsedTimer clock;
        qint64 startedMs = -1;
        bool progressShown = false;
        bool mainRefusesInput = false;
        dialog.SetJobRunner([&](CAviFixer& fixer, FixRequest request) {
            // Asked on the GUI thread, as the worker asks for the check box.
            CallOnOwnerThread(&dialog, [&] {
                startedMs = clock.elapsed();
                auto* progress = dialog.findChild<CProgressDlg*>(QStringLiteral("progressDialog"));
                progressShown = progress != nullptr && progress->isVisible();
                mainRefusesInput = !Child<QPushButton>(&dialog, "fixButton")->isEnabled();
            });
            fixer.RunFixJob(std::move(request));
        });
        dialog.show();
        ChooseFileInMainDialog(&dialog, QPath(clip));
        clock.start();
        RepairRun run;
        RunRepair(dialog, run);
        QVERIFY(progressShown);
        QVERIFY(mainRefusesInput);
        QVERIFY2(startedMs >= 90, qPrintable(QString::number(startedMs)));
        QVERIFY(run.frames.size() >= 2);
        QCOMPARE(dir.Names(), (std::vector<std::string>{"clip.avi", "fix_clip.avi"}));
    }

    void aSecondRepairBehavesLikeTheFirst() {
        ScratchDir dir;
        const fs::path clip = dir / "clip.avi";
        WriteCameraRecording(clip, CutOffRecording());
        CAviFixer engine;
        CRepairDlg dialog(engine);
        dialog.show();
        ChooseFileInMainDialog(&dialog, QPath(clip));

        RepairRun first;
        RunRepair(dialog, first);
        const auto afterFirst = ReadBytes(dir / "fix_clip.avi");
        QCOMPARE(g_finishTicks, 0);
        RepairRun second;
        RunRepair(dialog, second);
        QVERIFY(second.sawProgressWindow);
        QVERIFY(second.doneShownMs > 0);
        ExpectFrameCycle(second.frames);
        QCOMPARE(second.frames.size() - second.framesAtFinish, first.frames.size() - first.framesAtFinish);
        QCOMPARE(ReadBytes(dir / "fix_clip.avi"), afterFirst);
        QVERIFY(!dialog.JobRunning());
    }

    void lostHeaderAsksForImageSettingsWithTheProgressWindowHidden() {
        ScratchDir dir;
        const fs::path clip = dir / "clip.avi";
        // No repeated frames: the rebuild writes those without data, and players count no packet for them.
        CameraRecordingPlan plan = CutOffRecording(recgen::HeaderLayout::HeaderLost);
        plan.sequence.repeatEvery = 0;
        const auto summary = WriteCameraRecording(clip, plan);
        CAviFixer engine;
        CRepairDlg dialog(engine);
        dialog.show();
        ChooseFileInMainDialog(&dialog, QPath(clip));
        QTest::mouseClick(Child<QCheckBox>(&dialog, "replaceBox"), Qt::LeftButton);

        bool progressHidden = false;
        bool mainRefusedInput = false;
        int framesDuringPrompt = -1;
        QList<int> framesWhileHidden;
        QMetaObject::Connection counting;
        QTimer hook;
        hook.callOnTimeout([&] {
            if (auto* progress = dialog.findChild<CProgressDlg*>(QStringLiteral("progressDialog"));
                progress != nullptr && !counting) {
                counting = QObject::connect(progress, &CProgressDlg::frameShown,
                                            [&](int icon) { framesWhileHidden.append(icon); });
            }
        });
        hook.start(1);
        ModalWatcher watcher([&](QWidget* modal) {
            auto* prompt = qobject_cast<CImageSettingDlg*>(modal);
            QVERIFY(prompt != nullptr);
            auto* progress = dialog.findChild<CProgressDlg*>(QStringLiteral("progressDialog"));
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
        QCOMPARE(g_resolutionChoice, kResolutionVga);
        QCOMPARE(g_frameRateChoice, 15u);
        // The prompt switches the job to "Make new file".
        QCOMPARE(dir.Names(), (std::vector<std::string>{"clip.avi", "fix_clip.avi"}));
        auto streams = Probe(dir / "fix_clip.avi");
        QCOMPARE(streams["video"].width, 640u);
        QCOMPARE(streams["video"].height, 480u);
        QCOMPARE(streams["video"].frameRate, std::string("15/1"));
        QCOMPARE(streams["video"].packets, summary.videoCount);
        QCOMPARE(DecodeErrors(dir / "fix_clip.avi"), std::string());
        QVERIFY(Child<QPushButton>(&dialog, "fixButton")->isEnabled());
    }

    void cancelledImageSettingsEndTheJobWithTheWindowHidden() {
        ScratchDir dir;
        const fs::path clip = dir / "clip.avi";
        WriteCameraRecording(clip, CutOffRecording(recgen::HeaderLayout::HeaderLost));
        CAviFixer engine;
        CRepairDlg dialog(engine);
        dialog.show();
        ChooseFileInMainDialog(&dialog, QPath(clip));

        ModalWatcher watcher([](QWidget* modal) {
            auto* prompt = qobject_cast<CImageSettingDlg*>(modal);
            QVERIFY(prompt != nullptr);
            QTest::keyClick(prompt, Qt::Key_Escape);
        });
        RepairRun run;
        RunRepair(dialog, run);
        QCOMPARE(watcher.Seen(), 1);
        QVERIFY(run.doneShownMs > 0);
        QCOMPARE(engine.LastOutcome().status, FixStatus::Cancelled);
        QCOMPARE(dir.Names(), std::vector<std::string>{"clip.avi"});
        QVERIFY(Child<QPushButton>(&dialog, "fixButton")->isEnabled());
    }

    void fileErrorsAreShownAndTheJobStillEnds() {
        ScratchDir dir;
        const fs::path clip = dir / "clip.avi";
        WriteCameraRecording(clip, CutOffRecording());
        CAviFixer engine;
        CRepairDlg dialog(engine);
        dialog.show();
        ChooseFileInMainDialog(&dialog, QPath(clip));
        fs::remove(clip);

        QStringList captions;
        QList<bool> progressUp;
        ModalWatcher watcher([&](QWidget* modal) {
            captions << modal->windowTitle();
            auto* progress = dialog.findChild<CProgressDlg*>(QStringLiteral("progressDialog"));
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
        ScratchDir dir;
        const fs::path clip = dir / "clip.avi";
        WriteCameraRecording(clip, CutOffRecording());
        CAviFixer engine;
        CRepairDlg dialog(engine);
        std::atomic<bool> release{false};
        dialog.SetJobRunner([&release](CAviFixer& fixer, FixRequest request) {
            while (!release.load())
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            fixer.RunFixJob(std::move(request));
        });
        dialog.show();
        ChooseFileInMainDialog(&dialog, QPath(clip));
        Child<QPushButton>(&dialog, "fixButton")->click();
        QPointer<CProgressDlg> progress = dialog.findChild<CProgressDlg*>(QStringLiteral("progressDialog"));
        QVERIFY(progress != nullptr);
        QVERIFY(QTest::qWaitForWindowExposed(progress));
        QTest::qWait(300); // the job has started and is held
        for (Qt::Key key : {Qt::Key_Escape, Qt::Key_Return, Qt::Key_Enter}) {
            QTest::keyClick(progress, key);
            QVERIFY(progress != nullptr && progress->isVisible());
        }
        QVERIFY(!progress->close());
        QTest::keyClick(&dialog, Qt::Key_Escape);
        QVERIFY(!dialog.close());
        QVERIFY(dialog.isVisible());
        QVERIFY(!Child<QPushButton>(&dialog, "fixButton")->isEnabled());
        QTest::qWait(300);
        QVERIFY(progress != nullptr && progress->isVisible());

        release = true;
        QTRY_VERIFY_WITH_TIMEOUT(progress == nullptr, kJobTimeout);
        QCOMPARE(dir.Names(), (std::vector<std::string>{"clip.avi", "fix_clip.avi"}));
        QVERIFY(Child<QPushButton>(&dialog, "fixButton")->isEnabled());
    }

    void aFailureThatIsNoFileErrorIsToldAndTheJobEnds_data() {
        QTest::addColumn<int>("failure");
        QTest::addColumn<QString>("expectedStart");
        QTest::newRow("out of memory")
            << 0 << QStringLiteral("The repair stopped because there was not enough memory.");
        QTest::newRow("unexpected exception")
            << 1 << QStringLiteral("The repair stopped because of an unexpected error.");
    }
    void aFailureThatIsNoFileErrorIsToldAndTheJobEnds() {
        QFETCH(int, failure);
        QFETCH(QString, expectedStart);
        ScratchDir dir;
        const fs::path clip = dir / "clip.avi";
        WriteCameraRecording(clip, CutOffRecording());
        CAviFixer engine;
        CRepairDlg dialog(engine);
        dialog.SetJobRunner([failure](CAviFixer&, FixRequest request) {
            request.entries->push_back(IndexEntry{}); // as a job stopped half-way leaves its list
            if (failure == 0)
                throw std::bad_alloc();
            throw std::runtime_error("chunk table broken");
        });
        dialog.show();
        ChooseFileInMainDialog(&dialog, QPath(clip));
        ModalWatcher watcher([](QWidget* modal) { ClickOk(modal); });
        RepairRun run;
        RunRepair(dialog, run);
        QCOMPARE(watcher.MessageTexts().size(), 1);
        QVERIFY2(watcher.MessageTexts().first().startsWith(expectedStart),
                 qPrintable(watcher.MessageTexts().first()));
        QVERIFY(run.doneShownMs > 0);
        QVERIFY(!dialog.JobRunning());
        QVERIFY(dialog.IndexEntries().empty());

        // The next repair runs normally.
        dialog.SetJobRunner({});
        RepairRun next;
        RunRepair(dialog, next);
        QCOMPARE(dir.Names(), (std::vector<std::string>{"clip.avi", "fix_clip.avi"}));
    }
};

CLIPWRIGHT_UI_TEST(RepairJobTest);

} // namespace clipwright::ui::test

#include "RepairJobTest.moc"
