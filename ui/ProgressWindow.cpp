#include "ProgressWindow.h"

#include "DialogUnits.h"
#include "Resources.h"
#include "Strings.h"

#include <QCloseEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QTimer>
#include <QTimerEvent>
#include <algorithm>
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
// Room kept below the icon when the font is too small for the template to hold it.
constexpr int kBelowIcon = 3;

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

    auto* layout = new QHBoxLayout(this);
    const QMargins inset = units.Inset(kWindow, kIconPlace);
    const int iconTop = inset.top();
    layout->setContentsMargins(inset.left(), iconTop, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(iconControl, 0, Qt::AlignTop);
    layout->addSpacing(units.GapX(kIconPlace, resources::kIconSize.width(), kStatusText));
    auto* textColumn = new QVBoxLayout;
    textColumn->addSpacing(units.Y(kStatusText.y()) - units.Y(kIconPlace.y()));
    textColumn->addWidget(statusText);
    textColumn->addStretch();
    layout->addLayout(textColumn);
    layout->addStretch();

    // The template's height, or more when the font is too small for it to hold the icon.
    const int height =
        std::max(units.Y(kWindow.height()), iconTop + resources::kIconSize.height() + units.Y(kBelowIcon));
    setFixedSize(units.X(kWindow.width()), height);

    for (size_t i = 0; i < frameIcons.size(); ++i)
        frameIcons[i] = resources::Picture(resources::FrameIconPath(resources::kFrameIconIds[i]),
                                           resources::kIconSize, devicePixelRatioF());
}

void ProgressWindow::Run() {
    timer.start(kTickMilliseconds, this);
    open();
}

void ProgressWindow::JobFinished() {
    jobEnded = true;
    emit jobEndReached();
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
            statusText->setText(QString::fromUtf8(strings::kFixAviDone));
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
