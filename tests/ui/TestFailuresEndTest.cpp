// A failing check must end its test, not hang the test program until CTest gives up: neither while a
// job is held, nor inside a modal watcher while the window it watches blocks the test. The failures
// are made on purpose by DeliberateFailures, which runs only when named; TestFailuresEndTest runs it
// as a program of its own and expects both failures to be reported.
#include "MainDialog.h"
#include "TestFiles.h"
#include "UiTestMain.h"
#include "UiTestSupport.h"

#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QtTest>

namespace clipwright::ui::test {

using clipwright::test::ScratchDir;
using clipwright::test::WriteBytes;

class DeliberateFailures : public QObject {
    Q_OBJECT

private slots:
    void cleanup() { QTRY_VERIFY(VisibleTopLevelWindows().isEmpty()); }

    void failsWhileAJobIsHeld() {
        ScratchDir dir;
        WriteBytes(dir / "clip.avi", {'R', 'I', 'F', 'F'});
        RepairEngine engine;
        MainDialog dialog(engine);
        JobHold hold;
        dialog.Job().SetRunner(hold.Runner());
        dialog.ChooseFile(QString::fromStdString((dir / "clip.avi").string()));
        dialog.show();
        dialog.OnFix();
        QTRY_VERIFY(hold.Started());
        QFAIL("on purpose, while the job is held");
    }

    void failsInsideAModalWatcher() {
        RepairEngine engine;
        MainDialog dialog(engine);
        dialog.show();
        ModalWatcher watcher([](QWidget*) { QFAIL("on purpose, with a message box up"); });
        // With no file chosen, Fix opens a message box and returns only when it has closed.
        Child<QPushButton>(&dialog, "fixButton")->click();
    }
};

CLIPWRIGHT_UI_TEST_WHEN(DeliberateFailures, RunWhen::OnlyWhenNamed);

class TestFailuresEndTest : public QObject {
    Q_OBJECT

private slots:
    void failingTestsEndInsteadOfHanging() {
        QProcess failing;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        failing.setProcessEnvironment(environment);
        // A sanitizer's report goes to standard error; the failure message must show it.
        failing.setProcessChannelMode(QProcess::MergedChannels);
        failing.start(QCoreApplication::applicationFilePath(), {QStringLiteral("DeliberateFailures")});
        const bool ended = failing.waitForFinished(120000);
        if (!ended) {
            failing.kill();
            failing.waitForFinished();
        }
        const QString output = QString::fromLocal8Bit(failing.readAllStandardOutput());
        QVERIFY2(ended, qPrintable(output));
        QCOMPARE(failing.exitStatus(), QProcess::NormalExit);
        QCOMPARE(failing.exitCode(), 2);
        QCOMPARE(output.count(QRegularExpression(QStringLiteral("FAIL!.*DeliberateFailures::"))), 2);
    }
};

CLIPWRIGHT_UI_TEST(TestFailuresEndTest);

} // namespace clipwright::ui::test

#include "TestFailuresEndTest.moc"
