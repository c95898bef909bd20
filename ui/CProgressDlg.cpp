#include "CProgressDlg.h"

#include "DialogUnits.h"
#include "PrivateMessages.h"
#include "Resources.h"
#include "Strings.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QLabel>
#include <QPainter>
#include <QTimer>
#include <QTimerEvent>
#include <qdrawutil.h>

namespace clipwright::ui {

int g_finishTicks = 0;

namespace {

constexpr int kTickMilliseconds = 100;
constexpr int kTicksAfterFinish = 6;
constexpr int kDonePauseMilliseconds = 200;

} // namespace

CProgressDlg::CProgressDlg(QWidget* owner) : QDialog(owner, Qt::Dialog | Qt::FramelessWindowHint) {
    setObjectName(QStringLiteral("progressDialog"));
    setWindowTitle(QString::fromUtf8(strings::kProgressName));
    setAccessibleName(QString::fromUtf8(strings::kProgressName));

    // A bolder, larger face than the other dialogs, like the system font the window was drawn in.
    QFont systemFont = font();
    systemFont.setPointSizeF(systemFont.pointSizeF() + 1.0);
    systemFont.setBold(true);
    setFont(systemFont);
    const DialogUnits units(systemFont);
    setFixedSize(units.Size(96, 29));

    // Both controls paint their own background, so that changing them repaints only them: a paint of
    // the window itself is what turns the strip.
    iconControl = new QLabel(this);
    iconControl->setObjectName(QStringLiteral("frameIcon"));
    iconControl->setAutoFillBackground(true);
    iconControl->setGeometry(QRect(units.Rect(7, 7, 16, 16).topLeft(), QSize(32, 32)));
    iconControl->setAccessibleName(QString::fromUtf8(strings::kFilmStripName));

    statusText = new QLabel(QString::fromUtf8(strings::kFixingAviNow), this);
    statusText->setObjectName(QStringLiteral("statusText"));
    statusText->setAutoFillBackground(true);
    statusText->setTextFormat(Qt::PlainText);
    statusText->setGeometry(units.Rect(35, 10, 54, 14));
    statusText->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
}

void CProgressDlg::Run() {
    InitDialog();
    open();
}

void CProgressDlg::InitDialog() {
    for (size_t i = 0; i < frameIcons.size(); ++i)
        frameIcons[i] = QPixmap(resources::FrameIconPath(resources::kFrameIconIds[i]));
    if (mainWindow != nullptr) {
        PrivateMessage ready(WM_PROGRESS_READY, 0, this);
        QCoreApplication::sendEvent(mainWindow, &ready);
    }
    StartTimer();
}

void CProgressDlg::StartTimer() {
    timer.start(kTickMilliseconds, this);
}

bool CProgressDlg::event(QEvent* event) {
    if (event->type() == WM_FIX_FINISHED)
        finished = 1;
    return QDialog::event(event);
}

void CProgressDlg::paintEvent(QPaintEvent* /*event*/) {
    QPainter painter(this);
    qDrawWinPanel(&painter, rect(), palette(), false);

    const size_t shown = (frameIndex >= 0 && frameIndex < 6) ? static_cast<size_t>(frameIndex) : 0;
    iconControl->setPixmap(frameIcons[shown]);
    frameIndex = (frameIndex + 1) % 6;
    emit frameShown(resources::kFrameIconIds[shown]);
}

void CProgressDlg::timerEvent(QTimerEvent* event) {
    if (event->timerId() != timer.timerId()) {
        QDialog::timerEvent(event);
        return;
    }
    if (finished == 1) {
        if (g_finishTicks == kTicksAfterFinish) {
            timer.stop();
            statusText->setText(QString::fromUtf8(strings::kFixAviDone));
            // A timer, not a sleep: the words must be drawn and the program must keep answering.
            QTimer::singleShot(kDonePauseMilliseconds, this, &CProgressDlg::CloseWhenDone);
        } else {
            repaint();
            ++g_finishTicks;
        }
    } else {
        if (startPending == 1 && mainWindow != nullptr) {
            PrivateMessage startFix(WM_START_FIX, 0, nullptr);
            QCoreApplication::sendEvent(mainWindow, &startFix);
            startPending = 0;
        }
        repaint();
    }
}

void CProgressDlg::CloseWhenDone() {
    g_finishTicks = 0;
    finished = 0;
    closingItself = true;
    done(QDialog::Rejected);
}

void CProgressDlg::closeEvent(QCloseEvent* event) {
    if (closingItself)
        QDialog::closeEvent(event);
    else
        event->ignore();
}

} // namespace clipwright::ui
