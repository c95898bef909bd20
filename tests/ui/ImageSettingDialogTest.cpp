// The "Image Setting Needed" prompt on its own: its defaults, what "Next" answers for each choice,
// that Cancel and Escape answer nothing, what text typed into the frame-rate field counts as, and
// what screen readers hear.
#include "ImageSettingsDialog.h"
#include "UiTestMain.h"
#include "UiTestSupport.h"

#include <QAccessible>
#include <QComboBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QtTest>

namespace clipwright::ui::test {

namespace {

struct PromptRun {
    int result = -1;
    std::optional<ImageSettings> settings;
};

// Runs the prompt modally and lets `answer` act on it once it is up.
PromptRun RunPrompt(const std::function<void(ImageSettingsDialog*)>& answer,
                    std::optional<ImageSettings> initial = std::nullopt) {
    ImageSettingsDialog prompt(nullptr, initial);
    ModalWatcher watcher([&](QWidget* modal) {
        if (auto* box = qobject_cast<QMessageBox*>(modal)) {
            ClickOk(box);
            return;
        }
        auto* shown = qobject_cast<ImageSettingsDialog*>(modal);
        QVERIFY(shown != nullptr);
        answer(shown);
    });
    const int result = prompt.exec();
    return {result, prompt.Settings()};
}

// The names a screen reader gives as the control's label: its own, and those of what labels it.
QStringList SpokenLabels(QWidget* control) {
    QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(control);
    QStringList labels{accessible->text(QAccessible::Name)};
    for (const auto& [label, relation] : accessible->relations(QAccessible::Label))
        labels << label->text(QAccessible::Name);
    return labels;
}

} // namespace

class ImageSettingDialogTest : public QObject {
    Q_OBJECT

private slots:
    void cleanup() { QTRY_VERIFY(VisibleTopLevelWindows().isEmpty()); }

    void nextAtOnceGivesVgaAnd15() {
        QStringList shown;
        const PromptRun run = RunPrompt([&](ImageSettingsDialog* prompt) {
            shown << prompt->windowTitle() << Child<QComboBox>(prompt, "frameRateList")->currentText();
            QCOMPARE(QApplication::focusWidget(), Child<QPushButton>(prompt, "nextButton"));
            QTest::keyClick(prompt, Qt::Key_Return);
        });
        QCOMPARE(run.result, int(QDialog::Accepted));
        QCOMPARE(shown, (QStringList{"Image Setting Needed", "15"}));
        QVERIFY(run.settings.has_value());
        QCOMPARE(run.settings->resolution, kResolutionVga);
        QCOMPARE(run.settings->framesPerSecond, 15u);
    }

    // Settings read from the recording's video are chosen when the prompt opens; Next takes them.
    void opensWithTheSettingsReadFromTheVideo_data() {
        QTest::addColumn<int>("resolution");
        QTest::addColumn<uint>("framesPerSecond");
        QTest::addColumn<QString>("rateShown");
        QTest::addColumn<QString>("buttonChecked");
        QTest::newRow("QVGA at 30") << int(kResolutionQvga) << 30u << "30"
                                    << "qvgaButton";
        QTest::newRow("QQVGA at 7") << int(kResolutionQqvga) << 7u << "7"
                                    << "qqvgaButton";
        QTest::newRow("VGA at 25, not in the list") << int(kResolutionVga) << 25u << "25"
                                                    << "vgaButton";
    }
    void opensWithTheSettingsReadFromTheVideo() {
        QFETCH(int, resolution);
        QFETCH(uint, framesPerSecond);
        QFETCH(QString, rateShown);
        QFETCH(QString, buttonChecked);
        QString shownRate;
        bool checked = false;
        const PromptRun run = RunPrompt(
            [&](ImageSettingsDialog* prompt) {
                shownRate = Child<QComboBox>(prompt, "frameRateList")->currentText();
                checked = Child<QRadioButton>(prompt, buttonChecked.toLatin1().constData())->isChecked();
                QTest::keyClick(prompt, Qt::Key_Return);
            },
            ImageSettings{static_cast<ResolutionCode>(resolution), framesPerSecond});
        QCOMPARE(shownRate, rateShown);
        QVERIFY(checked);
        QCOMPARE(run.result, int(QDialog::Accepted));
        QVERIFY(run.settings.has_value());
        QCOMPARE(int(run.settings->resolution), resolution);
        QCOMPARE(run.settings->framesPerSecond, framesPerSecond);
    }

    void listHoldsTheFiveRates() {
        ImageSettingsDialog prompt;
        auto* list = Child<QComboBox>(&prompt, "frameRateList");
        QStringList entries;
        for (int i = 0; i < list->count(); ++i)
            entries << list->itemText(i);
        QCOMPARE(entries, (QStringList{"5", "7", "10", "15", "30"}));
        QVERIFY(list->isEditable());
        QVERIFY(Child<QRadioButton>(&prompt, "vgaButton")->isChecked());
    }

    void choicesAreStored_data() {
        QTest::addColumn<QString>("radio");
        QTest::addColumn<int>("listIndex");
        QTest::addColumn<int>("resolution");
        QTest::addColumn<uint>("framesPerSecond");
        QTest::newRow("QQVGA 30") << "qqvgaButton" << 4 << 2 << 30u;
        QTest::newRow("QVGA 5") << "qvgaButton" << 0 << 1 << 5u;
        QTest::newRow("VGA 7") << "vgaButton" << 1 << 0 << 7u;
        QTest::newRow("QVGA 10") << "qvgaButton" << 2 << 1 << 10u;
    }
    void choicesAreStored() {
        QFETCH(QString, radio);
        QFETCH(int, listIndex);
        QFETCH(int, resolution);
        QFETCH(uint, framesPerSecond);
        const PromptRun run = RunPrompt([&](ImageSettingsDialog* prompt) {
            QTest::mouseClick(prompt->findChild<QRadioButton*>(radio), Qt::LeftButton);
            Child<QComboBox>(prompt, "frameRateList")->setCurrentIndex(listIndex);
            QTest::mouseClick(Child<QPushButton>(prompt, "nextButton"), Qt::LeftButton);
        });
        QVERIFY(run.settings.has_value());
        QCOMPARE(int(run.settings->resolution), resolution);
        QCOMPARE(run.settings->framesPerSecond, framesPerSecond);
    }

    void radioButtonsAreOneGroup() {
        ImageSettingsDialog prompt;
        prompt.show();
        QTest::mouseClick(Child<QRadioButton>(&prompt, "qvgaButton"), Qt::LeftButton);
        QTest::mouseClick(Child<QRadioButton>(&prompt, "qqvgaButton"), Qt::LeftButton);
        QVERIFY(!Child<QRadioButton>(&prompt, "vgaButton")->isChecked());
        QVERIFY(!Child<QRadioButton>(&prompt, "qvgaButton")->isChecked());
        QVERIFY(Child<QRadioButton>(&prompt, "qqvgaButton")->isChecked());
        prompt.reject();
    }

    void cancelAndEscapeAnswerNothing_data() {
        QTest::addColumn<bool>("byEscape");
        QTest::newRow("Cancel button") << false;
        QTest::newRow("Escape key") << true;
    }
    void cancelAndEscapeAnswerNothing() {
        QFETCH(bool, byEscape);
        const PromptRun run = RunPrompt([&](ImageSettingsDialog* prompt) {
            QTest::mouseClick(Child<QRadioButton>(prompt, "qqvgaButton"), Qt::LeftButton);
            Child<QComboBox>(prompt, "frameRateList")->setCurrentIndex(4);
            if (byEscape)
                QTest::keyClick(prompt, Qt::Key_Escape);
            else
                QTest::mouseClick(Child<QPushButton>(prompt, "cancelButton"), Qt::LeftButton);
        });
        QCOMPARE(run.result, int(QDialog::Rejected));
        QVERIFY(!run.settings.has_value());
    }

    void aSecondPromptStartsFromTheDefaults() {
        const PromptRun first = RunPrompt([](ImageSettingsDialog* prompt) {
            QTest::mouseClick(Child<QRadioButton>(prompt, "qqvgaButton"), Qt::LeftButton);
            Child<QComboBox>(prompt, "frameRateList")->setCurrentIndex(0);
            prompt->accept();
        });
        QCOMPARE(first.settings->framesPerSecond, 5u);
        bool vga = false;
        QString rate;
        RunPrompt([&](ImageSettingsDialog* prompt) {
            vga = Child<QRadioButton>(prompt, "vgaButton")->isChecked();
            rate = Child<QComboBox>(prompt, "frameRateList")->currentText();
            prompt->reject();
        });
        QVERIFY(vga);
        QCOMPARE(rate, QStringLiteral("15"));
    }

    void typedFrameRate_data() {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<uint>("framesPerSecond");
        QTest::newRow("a list entry typed") << "30" << 30u;
        QTest::newRow("another whole number") << "25" << 25u;
        QTest::newRow("lowest") << "1" << 1u;
        QTest::newRow("highest") << "120" << 120u;
        QTest::newRow("blanks around") << " 12 " << 12u;
    }
    void typedFrameRate() {
        QFETCH(QString, typed);
        QFETCH(uint, framesPerSecond);
        int entries = 0;
        const PromptRun run = RunPrompt([&](ImageSettingsDialog* prompt) {
            auto* list = Child<QComboBox>(prompt, "frameRateList");
            list->setFocus();
            list->lineEdit()->selectAll();
            QTest::keyClicks(list->lineEdit(), typed);
            // The list still marks "15" while the field holds the typed text.
            QCOMPARE(list->currentIndex(), 3);
            QTest::keyClick(list->lineEdit(), Qt::Key_Return);
            entries = list->count();
        });
        QCOMPARE(run.settings->framesPerSecond, framesPerSecond);
        QCOMPARE(entries, 5);
    }

    void anUnusableRateKeepsThePromptOpen_data() {
        QTest::addColumn<QString>("typed");
        QTest::newRow("zero") << "0";
        QTest::newRow("too high") << "121";
        QTest::newRow("not a number") << "fast";
        QTest::newRow("fraction") << "12.5";
        QTest::newRow("empty") << "";
    }
    void anUnusableRateKeepsThePromptOpen() {
        QFETCH(QString, typed);
        int promptsSeen = 0;
        QStringList messages;
        ImageSettingsDialog prompt;
        ModalWatcher watcher([&](QWidget* modal) {
            if (auto* box = qobject_cast<QMessageBox*>(modal)) {
                messages << box->text();
                ClickOk(box);
                return;
            }
            auto* list = Child<QComboBox>(modal, "frameRateList");
            if (++promptsSeen == 1) {
                list->lineEdit()->setText(typed);
                QTest::keyClick(list->lineEdit(), Qt::Key_Return);
            } else {
                // Still open after the message: a usable rate now goes through.
                list->lineEdit()->setText(QStringLiteral("10"));
                QTest::mouseClick(Child<QPushButton>(modal, "nextButton"), Qt::LeftButton);
            }
        });
        QCOMPARE(prompt.exec(), int(QDialog::Accepted));
        QCOMPARE(promptsSeen, 2);
        QCOMPARE(messages.size(), 1);
        QVERIFY(messages.first().contains(QStringLiteral("1 to 120")));
        QCOMPARE(prompt.Settings()->framesPerSecond, 10u);
    }

    void frameRateFromText_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("expected"); // -1: none
        QTest::newRow("entry") << "7" << 7;
        QTest::newRow("plus sign") << "+8" << -1;
        QTest::newRow("negative") << "-5" << -1;
        QTest::newRow("hex") << "0x10" << -1;
        QTest::newRow("leading zero") << "015" << 15;
        QTest::newRow("huge") << "99999999999" << -1;
    }
    void frameRateFromText() {
        QFETCH(QString, text);
        QFETCH(int, expected);
        const std::optional<uint32_t> rate = FrameRateFromText(text);
        QCOMPARE(rate.has_value() ? int(*rate) : -1, expected);
    }

    void everyChoiceIsNamedAndReadable() {
        ImageSettingsDialog prompt;
        prompt.show();
        for (auto* radio : prompt.findChildren<QRadioButton*>()) {
            QVERIFY(!radio->text().isEmpty());
            // The whole label shows, whatever the font.
            QVERIFY2(radio->width() >= radio->sizeHint().width(), qPrintable(radio->text()));
            QVERIFY(prompt.rect().contains(radio->geometry()));
        }
        QVERIFY(prompt.rect().contains(Child<QPushButton>(&prompt, "cancelButton")->geometry()));
        QVERIFY(!(prompt.windowFlags() & Qt::WindowCloseButtonHint));
        prompt.reject();
    }

    // The choices lie inside their frames, which label them. The rate box is named as well: screen
    // readers would otherwise call an editable box by its value ("15").
    void screenReadersHearTheFrameOfEachChoice() {
        ImageSettingsDialog prompt;
        prompt.show();
        for (const char* name : {"vgaButton", "qvgaButton", "qqvgaButton"}) {
            auto* radio = Child<QRadioButton>(&prompt, name);
            QVERIFY(radio->accessibleName().isEmpty());
            QVERIFY2(SpokenLabels(radio).contains(QStringLiteral("Capture Resolution")), name);
            QVERIFY(radio->parentWidget()->rect().contains(radio->geometry()));
        }
        auto* list = Child<QComboBox>(&prompt, "frameRateList");
        QCOMPARE(list->accessibleName(), QStringLiteral("Frame Rate"));
        QVERIFY(SpokenLabels(list).contains(QStringLiteral("Frame Rate")));
        QVERIFY(list->parentWidget()->rect().contains(list->geometry()));
        prompt.reject();
    }

    void tabOrderReachesEveryChoice() {
        ImageSettingsDialog prompt;
        prompt.show();
        QVERIFY(QTest::qWaitForWindowActive(&prompt));
        const QStringList expected{"nextButton",    "cancelButton",    "vgaButton",
                                   "frameRateList", "referenceButton", "nextButton"};
        QTRY_COMPARE(QApplication::focusWidget()->objectName(), expected.first());
        for (qsizetype i = 1; i < expected.size(); ++i) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            QWidget* focused = QApplication::focusWidget();
            // The combo box's field takes the focus for it.
            if (focused->parentWidget() != nullptr &&
                focused->parentWidget()->objectName() == "frameRateList")
                focused = focused->parentWidget();
            QCOMPARE(focused->objectName(), expected[i]);
        }
        prompt.reject();
    }
};

CLIPWRIGHT_UI_TEST(ImageSettingDialogTest);

} // namespace clipwright::ui::test

#include "ImageSettingDialogTest.moc"
