// The application object and the command line: the sockets start-up and its failure path, the main
// dialog's modal run from start to Exit, a file given at the start, --help and --version, and the
// program's metadata.
#include "Application.h"
#include "MainDialog.h"
#include "TestFiles.h"
#include "UiTestMain.h"
#include "UiTestSupport.h"

#include <QDir>
#include <QLineEdit>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QtTest>

namespace clipwright::ui::test {

using clipwright::test::ScratchDir;
using clipwright::test::WriteBytes;

namespace {

Application& App() {
    return *static_cast<Application*>(QCoreApplication::instance());
}

struct ProgramRun {
    int exitCode = -1;
    QString out;
    QString err;
};

// Runs the desktop program itself with `arguments`, with no display needed.
ProgramRun RunProgram(const QStringList& arguments) {
    QProcess program;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    program.setProcessEnvironment(environment);
    program.start(QStringLiteral(CLIPWRIGHT_GUI_PATH), arguments);
    if (!program.waitForFinished(60000)) {
        program.kill();
        program.waitForFinished();
    }
    return {program.exitStatus() == QProcess::NormalExit ? program.exitCode() : -1,
            QString::fromLocal8Bit(program.readAllStandardOutput()),
            QString::fromLocal8Bit(program.readAllStandardError())};
}

} // namespace

class AppStartTest : public QObject {
    Q_OBJECT

private slots:
    void cleanup() {
        App().SetSocketsStartup(StartPlatformSockets);
        QTRY_VERIFY(VisibleTopLevelWindows().isEmpty());
    }

    void socketsStartOnThisPlatform() { QVERIFY(StartPlatformSockets()); }

    void failedSocketsStartShowsOneBoxAndNoMainWindow() {
        App().SetSocketsStartup([] { return false; });
        RepairEngine engine;
        QString caption;
        QMessageBox::Icon icon = QMessageBox::NoIcon;
        bool ownerless = false;
        int mainWindowsShown = -1;
        ModalWatcher watcher([&](QWidget* modal) {
            auto* box = qobject_cast<QMessageBox*>(modal);
            QVERIFY(box != nullptr);
            caption = box->windowTitle();
            icon = box->icon();
            ownerless = box->parentWidget() == nullptr;
            mainWindowsShown = 0;
            for (QWidget* window : VisibleTopLevelWindows())
                mainWindowsShown += qobject_cast<MainDialog*>(window) != nullptr ? 1 : 0;
            ClickOk(box);
        });
        QCOMPARE(App().Run(engine), 1);
        QCOMPARE(watcher.MessageTexts(), QStringList{"Windows sockets initialization failed."});
        QCOMPARE(caption, QStringLiteral("Clipwright"));
        QCOMPARE(icon, QMessageBox::Warning);
        QVERIFY(ownerless);
        QCOMPARE(mainWindowsShown, 0);
        QCOMPARE(engine.Host(), nullptr);
    }

    void mainDialogRunsUntilExit() {
        RepairEngine engine;
        QString title;
        bool registered = false;
        ModalWatcher watcher([&](QWidget* modal) {
            auto* dialog = qobject_cast<MainDialog*>(modal);
            QVERIFY(dialog != nullptr);
            title = dialog->windowTitle();
            registered = engine.Host() != nullptr;
            QVERIFY(Child<QLineEdit>(dialog, "pathEdit")->text().isEmpty());
            QTest::mouseClick(Child<QPushButton>(dialog, "exitButton"), Qt::LeftButton);
        });
        QCOMPARE(App().Run(engine), 0);
        QCOMPARE(title, QStringLiteral("Clipwright 1.01"));
        QVERIFY(registered);
        // The dialog is gone, and with it the engine's host.
        QCOMPARE(engine.Host(), nullptr);
    }

    // Files on the command line are taken as named, their paths made whole.
    void aFileGivenAtTheStartIsChosen_data() {
        QTest::addColumn<QStringList>("given");
        QTest::addColumn<QString>("chosenName"); // the first file's
        QTest::addColumn<QString>("shownText");  // empty: the first file's whole path
        QTest::newRow("AVI file") << QStringList{"clip.AVI"} << "clip.AVI" << QString();
        QTest::newRow("used as named") << QStringList{"clip"} << "clip" << QString();
        QTest::newRow("two files") << QStringList{"a.avi", "b"} << "a.avi"
                                   << "2 files: a.avi, b";
    }
    void aFileGivenAtTheStartIsChosen() {
        QFETCH(QStringList, given);
        QFETCH(QString, chosenName);
        QFETCH(QString, shownText);
        ScratchDir dir;
        for (const QString& name : given)
            WriteBytes(dir / name.toStdString(), {'R', 'I', 'F', 'F'});
        const QString folder = QString::fromStdString(dir.Path().string());
        const QString workingFolder = QDir::currentPath();
        QDir::setCurrent(folder);
        RepairEngine engine;
        QString shown;
        QString fileName;
        ModalWatcher watcher([&](QWidget* modal) {
            auto* dialog = qobject_cast<MainDialog*>(modal);
            QVERIFY(dialog != nullptr);
            shown = Child<QLineEdit>(dialog, "pathEdit")->text();
            fileName = dialog->FileName();
            dialog->accept();
        });
        App().Run(engine, given);
        QDir::setCurrent(workingFolder);
        QCOMPARE(shown, shownText.isEmpty() ? QDir(folder).filePath(chosenName) : shownText);
        QCOMPARE(fileName, chosenName);
    }

    void aMissingFileGivenAtTheStartIsReportedOnFix() {
        ScratchDir dir;
        RepairEngine engine;
        QPointer<MainDialog> main;
        ModalWatcher watcher([&](QWidget* modal) {
            if (auto* dialog = qobject_cast<MainDialog*>(modal)) {
                // Seen again after each box: Fix is pressed once.
                if (main == nullptr) {
                    main = dialog;
                    Child<QPushButton>(dialog, "fixButton")->click();
                }
                return;
            }
            ClickOk(modal);
        });
        QTimer exitWhenDone;
        exitWhenDone.callOnTimeout([&] {
            if (main != nullptr && watcher.MessageTexts().size() == 1 && !main->JobRunning())
                main->accept();
        });
        exitWhenDone.start(20);
        App().Run(engine, {QString::fromStdString((dir / "missing.avi").string())});
        QCOMPARE(watcher.MessageTexts(), (QStringList{"ERROR: The file could not be located."}));
    }

    void commandLine_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("printed"); // on standard output, or standard error when failing
        QTest::newRow("version") << QStringList{"--version"} << 0 << "Clipwright 1.01";
        QTest::newRow("help") << QStringList{"--help"} << 0 << "[file...]";
        QTest::newRow("unknown option") << QStringList{"--frobnicate"} << 1 << "frobnicate";
    }
    void commandLine() {
        QFETCH(QStringList, arguments);
        QFETCH(int, exitCode);
        QFETCH(QString, printed);
        const ProgramRun run = RunProgram(arguments);
        QCOMPARE(run.exitCode, exitCode);
        QVERIFY2((exitCode == 0 ? run.out : run.err).contains(printed), qPrintable(run.out + run.err));
    }

    void metadataCarriesTheVersionRecord() {
        QCOMPARE(QCoreApplication::applicationName(), QStringLiteral("Clipwright"));
        QCOMPARE(QCoreApplication::applicationVersion(), QStringLiteral("1.01"));
        QCOMPARE(QCoreApplication::organizationName(), QStringLiteral("Norvale"));
        QCOMPARE(App().property("Comments").toString(), QStringLiteral("AVI file fixer"));
        QCOMPARE(App().property("FileDescription").toString(), QStringLiteral("Clipwright Application"));
        QCOMPARE(App().property("ProductName").toString(), QStringLiteral("Norvale Clipwright Application"));
        QCOMPARE(App().property("FileVersion").toString(), QStringLiteral("1, 0, 1, 0"));
        QVERIFY(!QApplication::windowIcon().isNull());
    }
};

CLIPWRIGHT_UI_TEST(AppStartTest);

} // namespace clipwright::ui::test

#include "AppStartTest.moc"
