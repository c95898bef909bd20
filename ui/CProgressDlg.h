// The small caption-less progress window: "Fixing AVI now" beside a turning film strip. Its first
// tick asks the main dialog to start the job; once told the job has finished it turns the strip once
// more, says "Fix AVI done" and closes itself.
#pragma once

#include <QBasicTimer>
#include <QDialog>
#include <QPixmap>
#include <array>

class QLabel;

namespace clipwright::ui {

// Ticks counted since the job's end was relayed; back to 0 when the window closes itself.
extern int g_finishTicks;

class CProgressDlg : public QDialog {
    Q_OBJECT
public:
    explicit CProgressDlg(QWidget* owner);

    // The window that is told the progress window is up and asked to start the job.
    void SetMainWindow(QWidget* window) { mainWindow = window; }
    // Announces the window, starts its timer and shows it without a modal run of its own, so that
    // hiding it for the image settings prompt does not end it.
    void Run();

signals:
    // The icon resource number of the frame a paint has just shown.
    void frameShown(int iconId);

protected:
    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void timerEvent(QTimerEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

public slots:
    // The window has no buttons and closes only itself: Escape and Enter must not end it while the
    // job it stands for runs.
    void reject() override {}
    void accept() override {}

private:
    void InitDialog();
    void StartTimer();
    void CloseWhenDone();

    QWidget* mainWindow = nullptr;
    std::array<QPixmap, 6> frameIcons;
    int frameIndex = 0;
    int finished = 0;
    int startPending = 1;
    QLabel* iconControl = nullptr;
    QLabel* statusText = nullptr;
    QBasicTimer timer;
    bool closingItself = false;
};

} // namespace clipwright::ui
