#include "ImageSettingsDialog.h"

#include "DialogUnits.h"
#include "MessageBoxes.h"
#include "NamedComboBoxAccessible.h"
#include "Strings.h"
#include "avi/CameraLayout.h"

#include <QBoxLayout>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileDialog>
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

constexpr auto kFrameRates = layout::kCameraFrameRates;
constexpr int kDefaultFrameRateIndex = 3; // 15
constexpr uint32_t kHighestTypedFrameRate = layout::kHighestFrameRate;

// The template, in dialog units.
constexpr QRect kDialog(0, 0, 242, 162);
// The top left of what the dialog holds: the frames' left, the first text's top.
constexpr QPoint kContent(7, 7);
// Room the radio buttons keep from their frame's right edge.
constexpr int kRadioRightRoom = 2;
constexpr QRect kImageInfoLost(8, 7, 226, 20);
constexpr QRect kNoteFrame(7, 27, 228, 42);
constexpr QRect kNoteText(19, 37, 208, 28);
constexpr QRect kResolutionFrame(7, 75, 109, 62);
constexpr std::array<QRect, 3> kRadios = {QRect(29, 89, 55, 10), QRect(29, 105, 61, 10),
                                          QRect(29, 121, 65, 10)};
constexpr QRect kFrameRateFrame(126, 75, 109, 39);
constexpr QRect kFrameRateList(152, 89, 59, 40);
constexpr QRect kNextButton(126, 123, 53, 14);
constexpr QRect kCancelButton(182, 123, 53, 14);
constexpr QRect kReferenceButton(7, 142, 228, 14);

QLabel* AddText(QWidget* parent, const char* text, const char* name) {
    auto* label = new QLabel(QString::fromUtf8(text), parent);
    label->setObjectName(QString::fromUtf8(name));
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    return label;
}

QGroupBox* AddFrame(QWidget* parent, const char* title, const DialogUnits& units, const QRect& place) {
    auto* frame = new QGroupBox(QString::fromUtf8(title), parent);
    frame->setFocusPolicy(Qt::NoFocus);
    frame->setFixedSize(units.Size(place));
    return frame;
}

QRadioButton* AddRadio(QGroupBox* frame, const char* text, const char* name) {
    auto* radio = new QRadioButton(QString::fromUtf8(text), frame);
    radio->setObjectName(QString::fromUtf8(name));
    return radio;
}

} // namespace

std::optional<uint32_t> FrameRateFromText(const QString& text) {
    const QString trimmed = text.trimmed();
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

ImageSettingsDialog::ImageSettingsDialog(QWidget* parent, std::optional<ImageSettings> initial)
    : QDialog(parent) {
    setObjectName(QStringLiteral("imageSettingsDialog"));
    setWindowTitle(QString::fromUtf8(strings::kImageSettingCaption));
    // No system menu, so no close button: the answer is "Next" or "Cancel".
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    const DialogUnits units(font());

    QLabel* imageInfoLost = AddText(this, strings::kImageInfoLost, "imageInfoLostText");
    imageInfoLost->setContentsMargins(units.X(kImageInfoLost.x()) - units.X(kContent.x()), 0, 0, 0);
    imageInfoLost->setFixedWidth(units.X(kImageInfoLost.x() + kImageInfoLost.width()) -
                                 units.X(kContent.x()));
    imageInfoLost->setFixedHeight(units.Y(kNoteFrame.y()) - units.Y(kImageInfoLost.y()));

    QGroupBox* noteFrame = AddFrame(this, strings::kNote, units, kNoteFrame);
    auto* noteLayout = new QVBoxLayout(noteFrame);
    noteLayout->setContentsMargins(InsideFrame(units.Inset(kNoteFrame, kNoteText), *noteFrame));
    noteLayout->addWidget(AddText(noteFrame, strings::kWrongValueNote, "wrongValueNote"));

    // The radio buttons and the list lie inside their frames, which name them for screen readers.
    QGroupBox* resolutionFrame = AddFrame(this, strings::kCaptureResolution, units, kResolutionFrame);
    vgaButton = AddRadio(resolutionFrame, strings::kVga, "vgaButton");
    qvgaButton = AddRadio(resolutionFrame, strings::kQvga, "qvgaButton");
    qqvgaButton = AddRadio(resolutionFrame, strings::kQqvga, "qqvgaButton");
    auto* radioLayout = new QVBoxLayout(resolutionFrame);
    QMargins radioMargins = units.Inset(kResolutionFrame, kRadios[0]);
    radioMargins.setRight(units.X(kRadioRightRoom));
    radioMargins.setBottom(0);
    radioLayout->setContentsMargins(InsideFrame(radioMargins, *resolutionFrame));
    radioLayout->setSpacing(0);
    const std::array<QRadioButton*, 3> radios = {vgaButton, qvgaButton, qqvgaButton};
    for (size_t i = 0; i < radios.size(); ++i) {
        if (i > 0)
            radioLayout->addSpacing(
                units.GapY(kRadios[i - 1], radios[i - 1]->sizeHint().height(), kRadios[i]));
        radioLayout->addWidget(radios[i]);
    }
    radioLayout->addStretch();

    QGroupBox* frameRateFrame = AddFrame(this, strings::kFrameRate, units, kFrameRateFrame);
    frameRateList = new QComboBox(frameRateFrame);
    // Before anything asks how it is heard: the answer is kept for the box's life.
    MarkNamed(frameRateList);
    frameRateList->setObjectName(QStringLiteral("frameRateList"));
    frameRateList->setEditable(true);
    // Otherwise a screen reader names the box by its value ("15").
    frameRateList->setAccessibleName(QString::fromUtf8(strings::kFrameRate));
    frameRateList->lineEdit()->setAccessibleName(QString::fromUtf8(strings::kFrameRate));
    // Typed text is a one-off answer, not a new entry of the list.
    frameRateList->setInsertPolicy(QComboBox::NoInsert);
    // A typed rate is taken as typed, never completed to a longer entry.
    frameRateList->setCompleter(nullptr);
    // The field would keep Enter to itself; Enter there still means "Next", as everywhere in the dialog.
    frameRateList->lineEdit()->installEventFilter(this);
    // The template's height includes the opened list; the closed field is one edit line high.
    frameRateList->setFixedWidth(units.X(kFrameRateList.width()));
    auto* listLayout = new QVBoxLayout(frameRateFrame);
    QMargins listMargins = units.Inset(kFrameRateFrame, kFrameRateList);
    listMargins.setBottom(0);
    listLayout->setContentsMargins(InsideFrame(listMargins, *frameRateFrame));
    listLayout->addWidget(frameRateList, 0, Qt::AlignLeft);
    listLayout->addStretch();

    auto* buttons = new QDialogButtonBox(this);
    nextButton = buttons->addButton(QString::fromUtf8(strings::kNext), QDialogButtonBox::AcceptRole);
    nextButton->setObjectName(QStringLiteral("nextButton"));
    nextButton->setFixedSize(units.Size(kNextButton));
    nextButton->setDefault(true);
    cancelButton = buttons->addButton(QString::fromUtf8(strings::kCancel), QDialogButtonBox::RejectRole);
    cancelButton->setObjectName(QStringLiteral("cancelButton"));
    cancelButton->setFixedSize(units.Size(kCancelButton));
    buttons->layout()->setSpacing(units.GapX(kNextButton, nextButton->width(), kCancelButton));
    connect(buttons, &QDialogButtonBox::accepted, this, &ImageSettingsDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* rightColumn = new QVBoxLayout;
    rightColumn->setSpacing(0);
    rightColumn->addWidget(frameRateFrame);
    rightColumn->addSpacing(units.GapY(kFrameRateFrame, frameRateFrame->height(), kNextButton));
    rightColumn->addWidget(buttons);
    rightColumn->addStretch();

    auto* choices = new QHBoxLayout;
    choices->setSpacing(0);
    choices->addWidget(resolutionFrame, 0, Qt::AlignTop);
    choices->addSpacing(units.GapX(kResolutionFrame, resolutionFrame->width(), kFrameRateFrame));
    choices->addLayout(rightColumn);
    choices->addStretch();

    referenceButton = new QPushButton(QString::fromUtf8(strings::kTakeSettingsFromRecording), this);
    referenceButton->setObjectName(QStringLiteral("referenceButton"));
    referenceButton->setAutoDefault(false);
    referenceButton->setFixedSize(units.Size(kReferenceButton));
    connect(referenceButton, &QPushButton::clicked, this, &ImageSettingsDialog::ChooseReference);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(units.X(kContent.x()), units.Y(kContent.y()), 0, 0);
    layout->setSpacing(0);
    layout->addWidget(imageInfoLost, 0, Qt::AlignLeft);
    layout->addWidget(noteFrame, 0, Qt::AlignLeft);
    layout->addSpacing(units.GapY(kNoteFrame, noteFrame->height(), kResolutionFrame));
    layout->addLayout(choices);
    layout->addStretch();
    layout->addWidget(referenceButton, 0, Qt::AlignLeft);
    layout->addSpacing(units.Y(kDialog.height() - kReferenceButton.y() - kReferenceButton.height()));

    // The radio group is one tab stop between the buttons and the list, so the keyboard reaches it.
    setTabOrder(nextButton, cancelButton);
    setTabOrder(cancelButton, vgaButton);
    setTabOrder(vgaButton, qvgaButton);
    setTabOrder(qvgaButton, qqvgaButton);
    setTabOrder(qqvgaButton, frameRateList);
    setTabOrder(frameRateList, referenceButton);

    setFixedSize(units.Size(kDialog));
    InitDialog(initial);
}

void ImageSettingsDialog::InitDialog(const std::optional<ImageSettings>& initial) {
    frameRateList->clear();
    for (uint32_t rate : kFrameRates)
        frameRateList->addItem(QString::number(rate));
    frameRateList->setCurrentIndex(kDefaultFrameRateIndex);
    vgaButton->setChecked(true);
    if (initial) {
        QRadioButton* resolution = initial->resolution == kResolutionQvga    ? qvgaButton
                                   : initial->resolution == kResolutionQqvga ? qqvgaButton
                                                                             : vgaButton;
        resolution->setChecked(true);
        const int listed = frameRateList->findText(QString::number(initial->framesPerSecond));
        // A rate the list does not hold stands in the field as if typed, and is used as typed.
        if (listed >= 0)
            frameRateList->setCurrentIndex(listed);
        else
            frameRateList->setEditText(QString::number(initial->framesPerSecond));
    }
    nextButton->setFocus();
}

void ImageSettingsDialog::ChooseReference() {
    QFileDialog chooser(this, QString::fromUtf8(strings::kReferenceCaption));
    chooser.setObjectName(QStringLiteral("referenceDialog"));
    chooser.setAcceptMode(QFileDialog::AcceptOpen);
    chooser.setFileMode(QFileDialog::ExistingFile);
    chooser.setNameFilter(QString::fromUtf8(strings::kReferenceFilter));
    if (chooser.exec() != QDialog::Accepted || chooser.selectedFiles().isEmpty())
        return;
    settings.reset();
    reference = chooser.selectedFiles().front();
    done(QDialog::Accepted);
}

bool ImageSettingsDialog::eventFilter(QObject* watched, QEvent* event) {
    if (watched == frameRateList->lineEdit() && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            accept();
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void ImageSettingsDialog::accept() {
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
    settings = ImageSettings{resolution, *framesPerSecond};
    QDialog::accept();
}

} // namespace clipwright::ui
