// What the desktop program's tests share: answering the modal windows a click opens (from a timer,
// since the click does not return until they close), finding the real dialogs' controls, holding a
// job, and turning a hang into a failure.
#pragma once

#include "RepairJob.h"

#include <QFont>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QStringList>
#include <QTimer>
#include <QWidget>
#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

namespace clipwright::ui::test {

// Calls `handler` once for each modal window or pop-up menu that becomes the active one, after the
// timer's tick has returned, so that the handler may open further modal windows itself. When the
// handler has failed the test and left its window open, the watcher closes it, so that whatever
// opened the window returns and the test ends.
class ModalWatcher : public QObject {
    Q_OBJECT
public:
    using Handler = std::function<void(QWidget* modal)>;
    explicit ModalWatcher(Handler handler);
    ~ModalWatcher() override;

    // Texts of the message boxes handed to the handler, in order.
    const QStringList& MessageTexts() const { return messageTexts; }
    int Seen() const { return seen; }

private:
    void Look();

    Handler handler;
    QTimer timer;
    QPointer<QWidget> lastSeen;
    QStringList messageTexts;
    int seen = 0;
};

// A job that waits until it is released, then repairs as usual. Released when the hold goes, and
// when the job is told to stop, so a failing test never leaves a job waiting. The job shares the
// hold's state, so the hold may go before the dialog that runs the job.
class JobHold {
public:
    ~JobHold() { Release(); }
    RepairJob::Runner Runner();
    void Release();
    bool Started() const { return state->starts.load() > 0; }
    int Starts() const { return state->starts.load(); }

private:
    struct State {
        std::mutex mutex;
        std::condition_variable_any released;
        bool isReleased = false;
        std::atomic<int> starts{0};
    };
    std::shared_ptr<State> state = std::make_shared<State>();
};

// Ends the test program with a message naming `step` when the step has not returned within
// `seconds`: a hang becomes a failure at once instead of a wait for CTest's timeout.
class HangGuard {
public:
    HangGuard(const char* step, int seconds);
    ~HangGuard();

private:
    std::mutex mutex;
    std::condition_variable_any finished;
    std::jthread watchdog;
};

// The application's font as it comes out on a screen of `dpi` dots per inch, while the object lives.
class FontAtDpi {
public:
    explicit FontAtDpi(int dpi);
    ~FontAtDpi();

private:
    QFont original;
};

// Clicks the message box's OK button.
void ClickOk(QWidget* messageBox);

// Top-level windows that are still shown.
QList<QWidget*> VisibleTopLevelWindows();

// Picks `path` in the real Open dialog that the main dialog's "Select AVI File" opens.
void ChooseFileInMainDialog(QWidget* mainDialog, const QString& path);

template <typename T> T* Child(QObject* parent, const char* name) {
    return parent->findChild<T*>(QString::fromUtf8(name));
}

} // namespace clipwright::ui::test
