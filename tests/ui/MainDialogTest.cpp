// The main dialog on its own: its start state, the two check boxes' click rules, the Open dialog and
// its extension rule, dropped files, Fix without a file, the about box, keyboard and screen-reader use.
#include "MainDialog.h"
#include "AboutDialog.h"
#include "DialogUnits.h"
#include "ImageSettingsDialog.h"
#include "ProgressWindow.h"
#include "Strings.h"
#include "TestFiles.h"
#include "UiTestMain.h"
#include "UiTestSupport.h"

#include <QAccessible>
#include <QCheckBox>
#include <QContextMenuEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QUrl>
#include <QtTest>
#include <filesystem>

namespace clipwright::ui::test {

using clipwright::test::ScratchDir;
using clipwright::test::WriteBytes;

// Drags `mime` over the dialog and drops it, as a file manager would, expecting both to be taken or
// both refused.
void ExpectDrop(QWidget& dialog, const QMimeData& mime, bool taken) {
    const QPoint at = dialog.rect().center();
    QDragEnterEvent enter(at, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&dialog, &enter);
    QCOMPARE(enter.isAccepted(), taken);
    QDropEvent drop(at, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&dialog, &drop);
    QCOMPARE(drop.isAccepted(), taken);
}

class MainDialogTest : public QObject {
    Q_OBJECT

private slots:
    void cleanup() { QTRY_VERIFY(VisibleTopLevelWindows().isEmpty()); }

    void startsInNewFileModeWithNoFileChosen() {
        RepairEngine engine;
        MainDialog dialog(engine);
        dialog.show();
        QCOMPARE(dialog.windowTitle(), QStringLiteral("Clipwright 1.01"));
        QVERIFY(!Child<QCheckBox>(&dialog, "replaceBox")->isChecked());
        QVERIFY(Child<QCheckBox>(&dialog, "newFileBox")->isChecked());
        QVERIFY(Child<QLineEdit>(&dialog, "pathEdit")->text().isEmpty());
        QVERIFY(Child<QLineEdit>(&dialog, "pathEdit")->isReadOnly());
        QVERIFY(Child<QPushButton>(&dialog, "exitButton")->isDefault());
        QCOMPARE(engine.Host() != nullptr, true);
        QTRY_COMPARE(QApplication::focusWidget(), Child<QPushButton>(&dialog, "exitButton"));
    }

    void checkBoxClickRules_data() {
        QTest::addColumn<QStringList>("clicks");
        QTest::addColumn<bool>("replaceTicked");
        QTest::addColumn<bool>("newFileTicked");
        QTest::newRow("replace clears new file") << QStringList{"replaceBox"} << true << false;
        QTest::newRow("replace twice leaves both clear")
            << QStringList{"replaceBox", "replaceBox"} << false << false;
        QTest::newRow("ticked new file clicked leaves both clear")
            << QStringList{"newFileBox"} << false << false;
        QTest::newRow("new file after replace") << QStringList{"replaceBox", "newFileBox"} << false << true;
        QTest::newRow("replace after clearing both")
            << QStringList{"newFileBox", "replaceBox"} << true << false;
    }
    void checkBoxClickRules() {
        QFETCH(QStringList, clicks);
        QFETCH(bool, replaceTicked);
        QFETCH(bool, newFileTicked);
        RepairEngine engine;
        MainDialog dialog(engine);
        dialog.show();
        for (const QString& name : clicks)
            QTest::mouseClick(dialog.findChild<QCheckBox*>(name), Qt::LeftButton);
        QCOMPARE(Child<QCheckBox>(&dialog, "replaceBox")->isChecked(), replaceTicked);
        QCOMPARE(Child<QCheckBox>(&dialog, "newFileBox")->isChecked(), newFileTicked);
    }

    void checkBoxesAnswerTheSpaceKeyLikeAClick() {
        RepairEngine engine;
        MainDialog dialog(engine);
        dialog.show();
        auto* replace = Child<QCheckBox>(&dialog, "replaceBox");
        replace->setFocus();
        QTest::keyClick(replace, Qt::Key_Space);
        QVERIFY(replace->isChecked());
        QVERIFY(!Child<QCheckBox>(&dialog, "newFileBox")->isChecked());
    }

    void fixWithoutAFileAsksForOne_data() {
        QTest::addColumn<QString>("chosenPath");
        QTest::newRow("nothing chosen") << QString();
        QTest::newRow("four characters") << QStringLiteral("/a.a");
    }
    void fixWithoutAFileAsksForOne() {
        QFETCH(QString, chosenPath);
        RepairEngine engine;
        MainDialog dialog(engine);
        dialog.show();
        Child<QLineEdit>(&dialog, "pathEdit")->setText(chosenPath);
        QString caption;
        QMessageBox::Icon icon = QMessageBox::Warning;
        ModalWatcher watcher([&](QWidget* modal) {
            auto* box = qobject_cast<QMessageBox*>(modal);
            QVERIFY(box != nullptr);
            caption = box->windowTitle();
            icon = box->icon();
            QCOMPARE(box->accessibleName(), QStringLiteral("Clipwright"));
            ClickOk(box);
        });
        Child<QPushButton>(&dialog, "fixButton")->click();
        QCOMPARE(watcher.MessageTexts(), QStringList{"Please Select an AVI file first"});
        QCOMPARE(caption, QStringLiteral("Clipwright"));
        QCOMPARE(icon, QMessageBox::NoIcon);
        QVERIFY(!dialog.JobRunning());
        QVERIFY(dialog.findChild<QDialog*>(QStringLiteral("progressWindow")) == nullptr);
    }

    void openDialogKeepsAnAviPathWhateverTheCase_data() {
        QTest::addColumn<QString>("name");
        QTest::newRow("lower case") << QStringLiteral("clip.avi");
        QTest::newRow("capitals") << QStringLiteral("CLIP.AVI");
        QTest::newRow("mixed") << QStringLiteral("Clip.Avi");
    }
    void openDialogKeepsAnAviPathWhateverTheCase() {
        QFETCH(QString, name);
        ScratchDir dir;
        const QString path = QString::fromStdString((dir / name.toStdString()).string());
        WriteBytes(path.toStdString(), {'R', 'I', 'F', 'F'});
        RepairEngine engine;
        MainDialog dialog(engine);
        dialog.show();
        ChooseFileInMainDialog(&dialog, path);
        QCOMPARE(Child<QLineEdit>(&dialog, "pathEdit")->text(), path);
        QCOMPARE(dialog.FileName(), name);
    }

    void cancellingTheOpenDialogKeepsTheEarlierChoice() {
        ScratchDir dir;
        const QString path = QString::fromStdString((dir / "clip.avi").string());
        WriteBytes(path.toStdString(), {'R', 'I', 'F', 'F'});
        RepairEngine engine;
        MainDialog dialog(engine);
        dialog.show();
        ChooseFileInMainDialog(&dialog, path);
        ModalWatcher watcher([](QWidget* modal) { qobject_cast<QDialog*>(modal)->reject(); });
        Child<QPushButton>(&dialog, "selectButton")->click();
        QCOMPARE(watcher.Seen(), 1);
        QCOMPARE(Child<QLineEdit>(&dialog, "pathEdit")->text(), path);
        QCOMPARE(dialog.FileName(), QStringLiteral("clip.avi"));
    }

    void extensionRule_data() {
        QTest::addColumn<QStringList>("selection");
        QTest::addColumn<QStringList>("paths");
        QTest::newRow("avi") << QStringList{"/d/clip.avi"} << QStringList{"/d/clip.avi"};
        QTest::newRow("AVI") << QStringList{"/d/CLIP.AVI"} << QStringList{"/d/CLIP.AVI"};
        QTest::newRow("no extension") << QStringList{"/d/clip"} << QStringList{"/d/clip.avi"};
        QTest::newRow("other extension") << QStringList{"/d/clip.mp4"} << QStringList{"/d/clip.mp4.avi"};
        QTest::newRow("dot in folder") << QStringList{"/d.avi/clip"} << QStringList{"/d.avi/clip.avi"};
        QTest::newRow("several: each")
            << QStringList{"/d/a.avi", "/d/b"} << QStringList{"/d/a.avi", "/d/b.avi"};
        QTest::newRow("none") << QStringList{} << QStringList{};
    }
    void extensionRule() {
        QFETCH(QStringList, selection);
        QFETCH(QStringList, paths);
        QStringList chosenPaths;
        for (const ChosenFile& chosen : ChosenFilesFromSelection(selection)) {
            QCOMPARE(chosen.fileName, QFileInfo(chosen.path).fileName());
            chosenPaths << chosen.path;
        }
        QCOMPARE(chosenPaths, paths);
    }

    void aboutBoxOpensFromF1() {
        RepairEngine engine;
        MainDialog dialog(engine);
        dialog.show();
        QVERIFY(QTest::qWaitForWindowActive(&dialog));
        QStringList texts;
        ModalWatcher watcher([&](QWidget* modal) {
            auto* about = qobject_cast<AboutDialog*>(modal);
            QVERIFY(about != nullptr);
            texts << about->windowTitle() << Child<QLabel>(about, "aboutVersion")->text();
            QVERIFY(!Child<QLabel>(about, "aboutIcon")->pixmap().isNull());
            QVERIFY(!Child<QLabel>(about, "aboutIcon")->accessibleName().isEmpty());
            QTest::keyClick(about, Qt::Key_Return);
        });
        QTest::keyClick(&dialog, Qt::Key_F1);
        QCOMPARE(texts, (QStringList{"About Clipwright", "Clipwright Version 1.01"}));
        QVERIFY(dialog.isVisible());
    }

    void aboutBoxOpensFromTheRightClickMenu() {
        RepairEngine engine;
        MainDialog dialog(engine);
        dialog.show();
        QStringList seen;
        ModalWatcher watcher([&](QWidget* modal) {
            if (auto* menu = qobject_cast<QMenu*>(modal)) {
                QCOMPARE(menu->actions().size(), 2);
                QCOMPARE(menu->actions().constFirst()->text(), QStringLiteral("Folder for &New Files..."));
                seen << menu->actions().constLast()->text();
                menu->setActiveAction(menu->actions().constLast());
                QTest::keyClick(menu, Qt::Key_Return);
            } else {
                seen << modal->windowTitle();
                qobject_cast<QDialog*>(modal)->accept();
            }
        });
        QContextMenuEvent rightClick(QContextMenuEvent::Mouse, QPoint(20, 20),
                                     dialog.mapToGlobal(QPoint(20, 20)));
        QApplication::sendEvent(&dialog, &rightClick);
        QTRY_COMPARE(seen, (QStringList{"&About Clipwright...", "About Clipwright"}));
    }

    void tabOrderFollowsTheTemplate() {
        RepairEngine engine;
        MainDialog dialog(engine);
        dialog.show();
        QVERIFY(QTest::qWaitForWindowActive(&dialog));
        const QStringList expected{"exitButton", "pathEdit",   "selectButton", "fixButton",
                                   "replaceBox", "newFileBox", "exitButton"};
        QTRY_COMPARE(QApplication::focusWidget()->objectName(), expected.first());
        for (qsizetype i = 1; i < expected.size(); ++i) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            QCOMPARE(QApplication::focusWidget()->objectName(), expected[i]);
        }
    }

    void everyControlHasAnAccessibleName() {
        RepairEngine engine;
        MainDialog dialog(engine);
        for (QWidget* control : dialog.findChildren<QWidget*>()) {
            if (qobject_cast<QGroupBox*>(control) != nullptr)
                continue; // untitled frames: only grouping
            const bool named = !control->accessibleName().isEmpty() ||
                               (qobject_cast<QAbstractButton*>(control) != nullptr &&
                                !qobject_cast<QAbstractButton*>(control)->text().isEmpty()) ||
                               (qobject_cast<QLabel*>(control) != nullptr &&
                                !qobject_cast<QLabel*>(control)->text().isEmpty());
            QVERIFY2(named, qPrintable(control->objectName()));
        }
    }

    // What a screen reader hears, read through the accessibility tree as it reads it.
    void screenReadersHearEachControlsNameRoleAndState() {
        RepairEngine engine;
        MainDialog dialog(engine);
        dialog.show();
        ImageSettingsDialog prompt(&dialog, std::nullopt);
        auto* progress = new ProgressWindow(&dialog);
        progress->ShowProgress(ProgressPhase::Copying, 50, 200);
        struct Heard {
            QWidget* control;
            QAccessible::Role role;
            QString name;
            QString accelerator; // the mnemonic, for push buttons
        };
        const std::vector<Heard> expected = {
            {Child<QWidget>(&dialog, "modeFrame"), QAccessible::Grouping, "How the AVI file is fixed", ""},
            {Child<QWidget>(&dialog, "replaceBox"), QAccessible::CheckBox, "Replace original file", ""},
            {Child<QWidget>(&dialog, "newFileBox"), QAccessible::CheckBox, "Make new file", ""},
            {Child<QWidget>(&dialog, "pathEdit"), QAccessible::EditableText, "Chosen AVI file", ""},
            {Child<QWidget>(&dialog, "selectButton"), QAccessible::Button, "Select AVI File", "Alt+S"},
            {Child<QWidget>(&dialog, "fixButton"), QAccessible::Button, "Fix", "Alt+F"},
            {Child<QWidget>(&dialog, "exitButton"), QAccessible::Button, "Exit", "Alt+X"},
            {Child<QWidget>(&prompt, "frameRateList"), QAccessible::ComboBox, "Frame Rate", ""},
            {Child<QWidget>(&prompt, "nextButton"), QAccessible::Button, "Next", "Alt+N"},
            {Child<QWidget>(progress, "progressBar"), QAccessible::ProgressBar, "Progress", ""},
            {Child<QWidget>(progress, "cancelButton"), QAccessible::Button, "Cancel", "Alt+C"},
        };
        for (const Heard& heard : expected) {
            QAccessibleInterface* node = QAccessible::queryAccessibleInterface(heard.control);
            QVERIFY(node != nullptr);
            QCOMPARE(node->role(), heard.role);
            QCOMPARE(node->text(QAccessible::Name), heard.name);
            if (!heard.accelerator.isEmpty())
                QCOMPARE(
                    QKeySequence::mnemonic(qobject_cast<QAbstractButton*>(heard.control)->text()).toString(),
                    heard.accelerator);
        }
        // The modes are heard inside their group; the path is heard as read-only; the bar by its value.
        QCOMPARE(QAccessible::queryAccessibleInterface(Child<QWidget>(&dialog, "replaceBox"))
                     ->parent()
                     ->text(QAccessible::Name),
                 QStringLiteral("How the AVI file is fixed"));
        const QAccessible::State path =
            QAccessible::queryAccessibleInterface(Child<QWidget>(&dialog, "pathEdit"))->state();
        QVERIFY(path.readOnly);
        QAccessibleValueInterface* value =
            QAccessible::queryAccessibleInterface(Child<QWidget>(progress, "progressBar"))->valueInterface();
        QVERIFY(value != nullptr);
        QCOMPARE(value->currentValue().toInt(), 25);
    }

    void layoutKeepsTheTemplatesProportions() {
        RepairEngine engine;
        MainDialog dialog(engine);
        dialog.show();
        const DialogUnits units(dialog.font());
        QCOMPARE(dialog.size(), units.Size(276, 135));
        // Every control lies inside the dialog; the check boxes inside their frame, above the buttons.
        for (QWidget* control : dialog.findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
            QVERIFY2(dialog.rect().contains(control->geometry()), qPrintable(control->objectName()));
        auto* replace = Child<QCheckBox>(&dialog, "replaceBox");
        auto* select = Child<QPushButton>(&dialog, "selectButton");
        QVERIFY(replace->mapTo(&dialog, replace->rect().bottomLeft()).y() <
                select->mapTo(&dialog, QPoint()).y());
        QVERIFY(replace->width() >= replace->sizeHint().width());
        QVERIFY(Child<QLabel>(&dialog, "banner")->pixmap().size() == QSize(225, 85));
        QVERIFY(Child<QLabel>(&dialog, "description")->geometry().bottom() <
                Child<QLineEdit>(&dialog, "pathEdit")->geometry().top());
        QCOMPARE(units.X(4), units.BaseX());
        QCOMPARE(units.Y(8), units.BaseY());
    }

    void dropTakesLocalFilesAsChosen_data() {
        QTest::addColumn<QStringList>("names");  // files made in a scratch folder, dropped in this order
        QTest::addColumn<QString>("url");        // or a web address, or "text" for plain text
        QTest::addColumn<QString>("chosenName"); // the first file the dialog then holds; empty: refused
        QTest::addColumn<QString>("shownText");  // empty: the first file's whole path
        QTest::addColumn<QString>("refusal");    // the start of a message about a file left out
        QTest::newRow("one AVI file")
            << QStringList{"clip.AVI"} << QString() << "clip.AVI" << QString() << QString();
        QTest::newRow("used as named")
            << QStringList{"clip.mp4"} << QString() << "clip.mp4" << QString() << QString();
        QTest::newRow("two files") << QStringList{"a.avi", "b.avi"} << QString() << "a.avi"
                                   << "2 files: a.avi, b.avi" << QString();
        QTest::newRow("a picture among them")
            << QStringList{"a.avi", "pic.jpg"} << QString() << "a.avi" << QString()
            << "pic.jpg: This file is not an AVI file: it is a JPEG picture.";
        QTest::newRow("only a picture") << QStringList{"pic.jpg"} << QString() << QString() << QString()
                                        << "pic.jpg: This file is not an AVI file";
        QTest::newRow("a folder") << QStringList{"folder.avi/"} << QString() << QString() << QString()
                                  << QString();
        QTest::newRow("web address") << QStringList{} << "https://example.com/clip.avi" << QString()
                                     << QString() << QString();
        QTest::newRow("plain text") << QStringList{} << "text" << QString() << QString() << QString();
    }
    void dropTakesLocalFilesAsChosen() {
        QFETCH(QStringList, names);
        QFETCH(QString, url);
        QFETCH(QString, chosenName);
        QFETCH(QString, shownText);
        QFETCH(QString, refusal);
        ScratchDir dir;
        QMimeData mime;
        QList<QUrl> urls;
        for (const QString& name : names) {
            const std::string path = (dir / name.toStdString()).string();
            if (name.endsWith('/'))
                std::filesystem::create_directory(path);
            else if (name.endsWith(QStringLiteral(".jpg")))
                WriteBytes(path, {0xFF, 0xD8, 0xFF, 0xE0});
            else
                WriteBytes(path, {'R', 'I', 'F', 'F'});
            urls << QUrl::fromLocalFile(QString::fromStdString(path));
        }
        if (url == "text")
            mime.setText(QStringLiteral("clip.avi"));
        else if (!url.isEmpty())
            urls << QUrl(url);
        if (!urls.isEmpty())
            mime.setUrls(urls);

        RepairEngine engine;
        MainDialog dialog(engine);
        dialog.show();
        ModalWatcher boxes(ClickOk);
        ExpectDrop(dialog, mime, !chosenName.isEmpty() || !refusal.isEmpty());
        QCOMPARE(dialog.FileName(), chosenName);
        if (!chosenName.isEmpty())
            QCOMPARE(Child<QLineEdit>(&dialog, "pathEdit")->text(),
                     shownText.isEmpty() ? QString::fromStdString((dir / chosenName.toStdString()).string())
                                         : shownText);
        if (refusal.isEmpty()) {
            QTest::qWait(50);
            QCOMPARE(boxes.Seen(), 0);
        } else {
            QTRY_COMPARE(boxes.MessageTexts().size(), 1);
            QVERIFY2(boxes.MessageTexts()[0].startsWith(refusal), qPrintable(boxes.MessageTexts()[0]));
        }
    }

    void aDropDuringAJobIsRefused() {
        ScratchDir dir;
        WriteBytes(dir / "clip.avi", {'R', 'I', 'F', 'F'});
        WriteBytes(dir / "other.avi", {'R', 'I', 'F', 'F'});
        RepairEngine engine;
        JobHold hold; // never released: the dialog stops the job when it goes
        MainDialog dialog(engine);
        dialog.Job().SetRunner(hold.Runner());
        dialog.ChooseFile(QString::fromStdString((dir / "clip.avi").string()));
        dialog.show();
        dialog.OnFix();
        QTRY_VERIFY(hold.Started());
        QMimeData mime;
        mime.setUrls({QUrl::fromLocalFile(QString::fromStdString((dir / "other.avi").string()))});
        ExpectDrop(dialog, mime, false);
        QCOMPARE(dialog.FileName(), QStringLiteral("clip.avi"));
    }

    void escapeClosesTheIdleDialog() {
        RepairEngine engine;
        MainDialog dialog(engine);
        dialog.show();
        QTest::keyClick(&dialog, Qt::Key_Escape);
        QVERIFY(!dialog.isVisible());
        QCOMPARE(dialog.result(), int(QDialog::Rejected));
    }
};

CLIPWRIGHT_UI_TEST(MainDialogTest);

} // namespace clipwright::ui::test

#include "MainDialogTest.moc"
