#include "ProgressWindow.h"

#include "DialogUnits.h"
#include "Resources.h"
#include "Strings.h"

#include <QCloseEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QTimerEvent>
#include <algorithm>
#include <cmath>
#include <qdrawutil.h>

namespace clipwright::ui {

namespace {

constexpr int kTickMilliseconds = 100;
constexpr int kTicksAfterFinish = 6;
constexpr int kDonePauseMilliseconds = 200;

// The template, in dialog units of the window's font.
constexpr QRect kWindow(0, 0, 96, 29);
constexpr QRect kIconPlace(7, 7, 16, 16);
constexpr QRect kStatusText(35, 10, 54, 14);
// Below the template: the bar beside Cancel, then the step and the time left.
constexpr QRect kBar(7, 29, 92, 14);
constexpr QRect kCancelButton(103, 29, 50, 14);
constexpr QRect kTimeLeft(7, 47, 146, 10);
constexpr int kWindowWidth = 160;
constexpr int kBelowButton = 7;
// The time left is told once the phase has run this long, when the rate has settled a little.
constexpr qint64 kEstimateAfterMilliseconds = 1000;
// Room kept below the icon when the font is too small for the template to hold it.
constexpr int kBelowIcon = 3;

// Rounded up, as a person would say it: never "0 s left" while work remains.
QString TimeLeftText(double seconds) {
    const auto whole = static_cast<qint64>(std::ceil(seconds));
    if (whole < 60)
        return QString::fromUtf8(strings::kSecondsLeft).arg(std::max<qint64>(whole, 1));
    const qint64 minutes = (whole + 59) / 60;
    if (minutes < 60)
        return QString::fromUtf8(strings::kMinutesLeft).arg(minutes);
    return QString::fromUtf8(strings::kHoursLeft).arg(minutes / 60).arg(minutes % 60);
}

} // namespace

ProgressWindow::ProgressWindow(QWidget* owner) : QDialog(owner, Qt::Dialog | Qt::FramelessWindowHint) {
    setObjectName(QStringLiteral("progressWindow"));
    setWindowTitle(QString::fromUtf8(strings::kProgressName));
    setAccessibleName(QString::fromUtf8(strings::kProgressName));

    // A bolder, larger face than the other dialogs, like the system font the window was drawn in.
    QFont systemFont = font();
    systemFont.setPointSizeF(systemFont.pointSizeF() + 1.0);
    systemFont.setBold(true);
    setFont(systemFont);
    const DialogUnits units(systemFont);

    // Both controls paint their own background, so that changing them repaints only them: a paint of
    // the window itself is what turns the strip.
    iconControl = new QLabel(this);
    iconControl->setObjectName(QStringLiteral("frameIcon"));
    iconControl->setAutoFillBackground(true);
    iconControl->setFixedSize(resources::kIconSize);
    iconControl->setAccessibleName(QString::fromUtf8(strings::kFilmStripName));

    statusText = new QLabel(QString::fromUtf8(strings::kFixingAviNow), this);
    statusText->setObjectName(QStringLiteral("statusText"));
    statusText->setAutoFillBackground(true);
    statusText->setTextFormat(Qt::PlainText);
    statusText->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    statusText->setFixedSize(units.Size(kStatusText));

    // The bar and the time left in the dialogs' usual face: they are read, not glanced at.
    // Every attribute set, so that none is taken from the window's bold face.
    QFont plainFont = systemFont;
    plainFont.setBold(false);
    plainFont.setPointSizeF(owner != nullptr ? owner->font().pointSizeF() : systemFont.pointSizeF() - 1.0);
    bar = new QProgressBar(this);
    bar->setObjectName(QStringLiteral("progressBar"));
    bar->setAccessibleName(QString::fromUtf8(strings::kProgressBarName));
    bar->setRange(0, 100);
    bar->setValue(0);
    bar->setFont(plainFont);
    bar->setFixedSize(units.Size(kBar));
    // Like the two above, these paint their own background: their changes must not turn the strip.
    bar->setAutoFillBackground(true);
    timeLeft = new QLabel(QString::fromUtf8(strings::kStarting), this);
    timeLeft->setObjectName(QStringLiteral("timeLeft"));
    timeLeft->setTextFormat(Qt::PlainText);
    timeLeft->setFont(plainFont);
    timeLeft->setFixedSize(units.Size(kTimeLeft));
    timeLeft->setAutoFillBackground(true);
    cancelButton = new QPushButton(QString::fromUtf8(strings::kCancelJob), this);
    cancelButton->setObjectName(QStringLiteral("cancelButton"));
    cancelButton->setFont(plainFont);
    cancelButton->setFixedSize(units.Size(kCancelButton));
    cancelButton->setAutoDefault(false);
    cancelButton->setAutoFillBackground(true);
    connect(cancelButton, &QPushButton::clicked, this, &ProgressWindow::OnCancel);

    auto* top = new QHBoxLayout;
    const QMargins inset = units.Inset(kWindow, kIconPlace);
    const int iconTop = inset.top();
    top->setContentsMargins(inset.left(), iconTop, 0, 0);
    top->setSpacing(0);
    top->addWidget(iconControl, 0, Qt::AlignTop);
    top->addSpacing(units.GapX(kIconPlace, resources::kIconSize.width(), kStatusText));
    auto* textColumn = new QVBoxLayout;
    textColumn->addSpacing(units.Y(kStatusText.y()) - units.Y(kIconPlace.y()));
    textColumn->addWidget(statusText);
    textColumn->addStretch();
    top->addLayout(textColumn);
    top->addStretch();
    // The template's height, or more when the font is too small for it to hold the icon.
    const int topHeight =
        std::max(units.Y(kWindow.height()), iconTop + resources::kIconSize.height() + units.Y(kBelowIcon));
    auto* topWidget = new QWidget(this);
    topWidget->setLayout(top);
    topWidget->setFixedHeight(topHeight);

    auto* barRow = new QHBoxLayout;
    barRow->setContentsMargins(0, 0, 0, 0);
    barRow->setSpacing(0);
    barRow->addWidget(bar, 0, Qt::AlignVCenter);
    barRow->addSpacing(units.GapX(kBar, bar->width(), kCancelButton));
    barRow->addWidget(cancelButton);
    barRow->addStretch();

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(topWidget);
    auto* below = new QVBoxLayout;
    below->setContentsMargins(units.X(kBar.x()), 0, 0, units.Y(kBelowButton));
    below->setSpacing(units.Y(kTimeLeft.y() - kBar.y() - kBar.height()));
    below->addLayout(barRow);
    below->addWidget(timeLeft);
    layout->addLayout(below);
    setFixedSize(units.X(kWindowWidth), topHeight + bar->height() + below->spacing() +
                                            cancelButton->height() + units.Y(kBelowButton));

    for (size_t i = 0; i < frameIcons.size(); ++i)
        frameIcons[i] = resources::Picture(resources::FrameIconPath(resources::kFrameIconIds[i]),
                                           resources::kIconSize, devicePixelRatioF());
}

void ProgressWindow::Run() {
    timer.start(kTickMilliseconds, this);
    open();
}

void ProgressWindow::JobFinished(bool cancelled) {
    jobEnded = true;
    endedCancelled = cancelled;
    emit jobEndReached();
}

void ProgressWindow::ShowProgress(ProgressPhase phase, quint64 done, quint64 total) {
    if (jobEnded || !cancelButton->isEnabled())
        return;
    if (phase != shownPhase) {
        shownPhase = phase;
        phaseClock.start();
    }
    const int percent = total == 0 ? 100 : static_cast<int>(done * 100 / total);
    bar->setValue(percent);
    const char* doing = phase == ProgressPhase::Reading ? strings::kReadingPhase : strings::kCopyingPhase;
    const qint64 elapsed = phaseClock.elapsed();
    if (done == 0 || done >= total || elapsed < kEstimateAfterMilliseconds) {
        timeLeft->setText(QString::fromUtf8(doing));
        return;
    }
    const double secondsLeft =
        static_cast<double>(elapsed) / 1000.0 * static_cast<double>(total - done) / static_cast<double>(done);
    timeLeft->setText(QString::fromUtf8(doing) + QStringLiteral(", ") + TimeLeftText(secondsLeft));
}

void ProgressWindow::OnCancel() {
    cancelButton->setEnabled(false);
    timeLeft->setText(QString::fromUtf8(strings::kCancelling));
    emit cancelRequested();
}

void ProgressWindow::paintEvent(QPaintEvent* /*event*/) {
    QPainter painter(this);
    qDrawWinPanel(&painter, rect(), palette(), false);

    const size_t shown = (frameIndex >= 0 && frameIndex < 6) ? static_cast<size_t>(frameIndex) : 0;
    iconControl->setPixmap(frameIcons[shown]);
    frameIndex = (frameIndex + 1) % 6;
    emit frameShown(resources::kFrameIconIds[shown]);
}

void ProgressWindow::timerEvent(QTimerEvent* event) {
    if (event->timerId() != timer.timerId()) {
        QDialog::timerEvent(event);
        return;
    }
    if (jobEnded) {
        if (finishTicks == kTicksAfterFinish) {
            timer.stop();
            cancelButton->setEnabled(false);
            if (endedCancelled) {
                statusText->setText(QString::fromUtf8(strings::kFixAviCancelled));
            } else {
                bar->setValue(100);
                timeLeft->setText(QString());
                statusText->setText(QString::fromUtf8(strings::kFixAviDone));
            }
            // A timer, not a sleep: the words must be drawn and the program must keep answering.
            QTimer::singleShot(kDonePauseMilliseconds, this, &ProgressWindow::CloseWhenDone);
        } else {
            repaint();
            ++finishTicks;
        }
        return;
    }
    if (startPending) {
        startPending = false;
        emit startRequested();
    }
    repaint();
}

void ProgressWindow::CloseWhenDone() {
    finishTicks = 0;
    jobEnded = false;
    closingItself = true;
    done(QDialog::Rejected);
}

void ProgressWindow::closeEvent(QCloseEvent* event) {
    if (closingItself)
        QDialog::closeEvent(event);
    else
        event->ignore();
}

} // namespace clipwright::ui
