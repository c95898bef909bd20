#include "CImageSettingDlg.h"

#include "DialogUnits.h"
#include "ImageSettings.h"
#include "MessageBoxes.h"
#include "Strings.h"

#include <QComboBox>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <algorithm>
#include <array>

namespace clipwright::ui {

namespace {

struct FrameRateEntry {
    const char* text;
    uint32_t framesPerSecond;
};

constexpr std::array<FrameRateEntry, 5> kFrameRateEntries = {{
    {"5", 5},
    {"7", 7},
    {"10", 10},
    {"15", 15},
    {"30", 30},
}};
constexpr int kDefaultFrameRateIndex = 3; // "15"
constexpr uint32_t kHighestTypedFrameRate = 120;

QLabel* AddText(QWidget* parent, const char* text, const QRect& where, const char* name) {
    auto* label = new QLabel(QString::fromUtf8(text), parent);
    label->setObjectName(QString::fromUtf8(name));
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    label->setGeometry(where);
    return label;
}

QGroupBox* AddGroupBox(QWidget* parent, const char* title, const QRect& where) {
    auto* box = new QGroupBox(QString::fromUtf8(title), parent);
    box->setGeometry(where);
    box->setFocusPolicy(Qt::NoFocus);
    return box;
}

// A radio button keeps the template's place; it only grows when the font needs more room for its text.
QRadioButton* AddRadio(QWidget* parent, const char* text, const QRect& where, int widest, const char* name) {
    auto* radio = new QRadioButton(QString::fromUtf8(text), parent);
    radio->setObjectName(QString::fromUtf8(name));
    const QSize wanted = radio->sizeHint();
    radio->setGeometry(where.x(), where.y(), std::min(std::max(where.width(), wanted.width()), widest),
                       std::max(where.height(), wanted.height()));
    return radio;
}

} // namespace

std::optional<uint32_t> FrameRateFromText(const QString& text) {
    const QString trimmed = text.trimmed();
    for (const FrameRateEntry& entry : kFrameRateEntries) {
        if (trimmed == QString::fromUtf8(entry.text))
            return entry.framesPerSecond;
    }
    const bool digitsOnly = !trimmed.isEmpty() && std::all_of(trimmed.begin(), trimmed.end(), [](QChar c) {
        return c >= QLatin1Char('0') && c <= QLatin1Char('9');
    });
    if (!digitsOnly)
        return std::nullopt;
    bool isNumber = false;
    const uint typed = trimmed.toUInt(&isNumber, 10);
    if (!isNumber || typed < 1 || typed > kHighestTypedFrameRate)
        return std::nullopt;
    return typed;
}

CImageSettingDlg::CImageSettingDlg(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("imageSettingDialog"));
    setWindowTitle(QString::fromUtf8(strings::kImageSettingCaption));
    // No system menu, so no close button: the answer is "Next" or "Cancel".
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    const DialogUnits units(font());
    setFixedSize(units.Size(242, 144));

    // Group boxes first, so that the controls they frame are drawn over them.
    const QRect resolutionFrame = units.Rect(7, 75, 109, 62);
    AddGroupBox(this, strings::kCaptureResolution, resolutionFrame);
    AddGroupBox(this, strings::kFrameRate, units.Rect(126, 75, 109, 39));
    AddGroupBox(this, strings::kNote, units.Rect(7, 27, 228, 42));

    nextButton = new QPushButton(QString::fromUtf8(strings::kNext), this);
    nextButton->setObjectName(QStringLiteral("nextButton"));
    nextButton->setGeometry(units.Rect(126, 123, 53, 14));
    nextButton->setDefault(true);
    connect(nextButton, &QPushButton::clicked, this, &CImageSettingDlg::accept);

    cancelButton = new QPushButton(QString::fromUtf8(strings::kCancel), this);
    cancelButton->setObjectName(QStringLiteral("cancelButton"));
    cancelButton->setGeometry(units.Rect(182, 123, 53, 14));
    connect(cancelButton, &QPushButton::clicked, this, &QDialog::reject);

    // One group of automatic radio buttons: choosing one clears the others.
    const int radioRoom = resolutionFrame.right() - units.X(29) - units.X(2);
    vgaButton = AddRadio(this, strings::kVga, units.Rect(29, 89, 55, 10), radioRoom, "vgaButton");
    qvgaButton = AddRadio(this, strings::kQvga, units.Rect(29, 105, 61, 10), radioRoom, "qvgaButton");
    qqvgaButton = AddRadio(this, strings::kQqvga, units.Rect(29, 121, 65, 10), radioRoom, "qqvgaButton");

    AddText(this, strings::kImageInfoLost, units.Rect(8, 7, 226, 20), "imageInfoLostText");
    AddText(this, strings::kWrongValueNote, units.Rect(19, 37, 208, 28), "wrongValueNote");

    frameRateList = new QComboBox(this);
    frameRateList->setObjectName(QStringLiteral("frameRateList"));
    frameRateList->setEditable(true);
    // Typed text is a one-off answer, not a new entry of the list.
    frameRateList->setInsertPolicy(QComboBox::NoInsert);
    frameRateList->setAccessibleName(QString::fromUtf8(strings::kFrameRate));
    // A typed rate is taken as typed, never completed to a longer entry.
    frameRateList->setCompleter(nullptr);
    // The field would keep Enter to itself; Enter there still means "Next", as everywhere in the dialog.
    frameRateList->lineEdit()->installEventFilter(this);
    // The template's height includes the opened list; the closed field is one edit line high.
    const QRect listArea = units.Rect(152, 89, 59, 40);
    frameRateList->setGeometry(listArea.x(), listArea.y(), listArea.width(),
                               frameRateList->sizeHint().height());

    // The radio group is one tab stop between the buttons and the list, so the keyboard reaches it.
    setTabOrder(nextButton, cancelButton);
    setTabOrder(cancelButton, vgaButton);
    setTabOrder(vgaButton, qvgaButton);
    setTabOrder(qvgaButton, qqvgaButton);
    setTabOrder(qqvgaButton, frameRateList);

    InitDialog();
}

void CImageSettingDlg::InitDialog() {
    frameRateList->clear();
    for (const FrameRateEntry& entry : kFrameRateEntries)
        frameRateList->addItem(QString::fromUtf8(entry.text));
    frameRateList->setCurrentIndex(kDefaultFrameRateIndex);
    vgaButton->setChecked(true);
    nextButton->setFocus();
}

bool CImageSettingDlg::eventFilter(QObject* watched, QEvent* event) {
    if (watched == frameRateList->lineEdit() && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            accept();
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void CImageSettingDlg::accept() {
    ResolutionCode resolution = kResolutionQqvga;
    if (vgaButton->isChecked())
        resolution = kResolutionVga;
    else if (qvgaButton->isChecked())
        resolution = kResolutionQvga;

    // The field may hold typed text while the list still marks its old entry: the text decides.
    const std::optional<uint32_t> framesPerSecond = FrameRateFromText(frameRateList->currentText());
    if (!framesPerSecond) {
        ShowMessageBox(this, QString::fromUtf8(strings::kFrameRateRange), QMessageBox::Warning);
        frameRateList->setFocus();
        frameRateList->lineEdit()->selectAll();
        return;
    }
    g_resolutionChoice = resolution;
    g_frameRateChoice = *framesPerSecond;
    frameRateIndex = frameRateList->currentIndex();
    QDialog::accept();
}

} // namespace clipwright::ui
