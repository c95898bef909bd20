// The small caption-less progress window: "Fixing AVI now" beside a turning film strip, and below
// them how far the job's phase has come, the time it has left and a Cancel button. Its first tick
// asks for the job to start; once told the job has finished it turns the strip once more, says
// "Fix AVI done" and closes itself.
#pragma once

#include "platform/Progress.h"

#include <QBasicTimer>
#include <QDialog>
#include <QElapsedTimer>
#include <QPixmap>
#include <array>
#include <optional>

class QLabel;
class QProgressBar;
class QPushButton;

namespace clipwright::ui {

class ProgressWindow : public QDialog {
    Q_OBJECT
public:
    explicit ProgressWindow(QWidget* owner);

    // Shows the window, modal to its owner, and starts its timer. The window is not run modally:
    // hiding it for the image settings prompt must not end it.
    void Run();

public slots:
    // The job has returned: the window finishes its turn and closes. `cancelled`: the job stopped
    // at the user's word, and the window says so rather than "Fix AVI done".
    void JobFinished(bool cancelled = false);
    // How far the job's phase has come: the bar, and the time left once it can be told.
    void ShowProgress(clipwright::ProgressPhase phase, quint64 done, quint64 total);
    // The window has no buttons and closes only itself: Escape and Enter must not end it while the
    // job it stands for runs.
    void reject() override {}
    void accept() override {}

signals:
    // The first tick: the job may start now that the window is up.
    void startRequested();
    // The job's end has reached the window.
    void jobEndReached();
    // The icon resource number of the frame a paint has just shown.
    void frameShown(int iconId);
    // Cancel was pressed; the button stays pressed until the job ends.
    void cancelRequested();

protected:
    void paintEvent(QPaintEvent* event) override;
    void timerEvent(QTimerEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void CloseWhenDone();
    void OnCancel();

    std::array<QPixmap, 6> frameIcons;
    int frameIndex = 0;
    bool jobEnded = false;
    bool endedCancelled = false;
    bool startPending = true;
    // Ticks counted since the job's end reached the window.
    int finishTicks = 0;
    QLabel* iconControl = nullptr;
    QLabel* statusText = nullptr;
    QProgressBar* bar = nullptr;
    QLabel* timeLeft = nullptr;
    QPushButton* cancelButton = nullptr;
    std::optional<ProgressPhase> shownPhase;
    QElapsedTimer phaseClock;
    QBasicTimer timer;
    bool closingItself = false;
};

} // namespace clipwright::ui
