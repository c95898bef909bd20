// The application object: the sockets start-up and its failure path, the main dialog's modal run
// from start to Exit, and the program's metadata.
#include "CRepairApp.h"
#include "CRepairDlg.h"
#include "UiTestMain.h"
#include "UiTestSupport.h"

#include <QMessageBox>
#include <QPushButton>
#include <QtTest>

namespace clipwright::ui::test {

namespace {

CRepairApp& App() {
    return *static_cast<CRepairApp*>(QCoreApplication::instance());
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
        CAviFixer engine;
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
                mainWindowsShown += qobject_cast<CRepairDlg*>(window) != nullptr ? 1 : 0;
            ClickOk(box);
        });
        QCOMPARE(App().StartApplication(engine), false);
        QCOMPARE(watcher.MessageTexts(), QStringList{"Windows sockets initialization failed."});
        QCOMPARE(caption, QStringLiteral("Clipwright"));
        QCOMPARE(icon, QMessageBox::Warning);
        QVERIFY(ownerless);
        QCOMPARE(mainWindowsShown, 0);
        QCOMPARE(engine.GetNotifyWindow(), nullptr);
    }

    void mainDialogRunsUntilExit() {
        CAviFixer engine;
        QString title;
        bool registered = false;
        ModalWatcher watcher([&](QWidget* modal) {
            auto* dialog = qobject_cast<CRepairDlg*>(modal);
            QVERIFY(dialog != nullptr);
            title = dialog->windowTitle();
            registered = engine.GetNotifyWindow() != nullptr;
            QTest::mouseClick(Child<QPushButton>(dialog, "exitButton"), Qt::LeftButton);
        });
        QCOMPARE(App().StartApplication(engine), false);
        QCOMPARE(title, QStringLiteral("Clipwright 1.01"));
        QVERIFY(registered);
        // The dialog is gone, and with it the engine's notify window.
        QCOMPARE(engine.GetNotifyWindow(), nullptr);
        QCOMPARE(App().EndApplication(), 0);
    }

    void metadataCarriesTheVersionRecord() {
        QCOMPARE(QCoreApplication::applicationName(), QStringLiteral("Clipwright"));
        QCOMPARE(QCoreApplication::applicationVersion(), QStringLiteral("1.0.1.0"));
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
