// Runs a function on the thread that owns `receiver` and waits until it has returned, as a window
// message sent from another thread would. The hand-over goes both ways through a standard mutex, so
// that what the caller wrote before the call is seen by the function, and what the function wrote is
// seen by the caller after it (and so that ThreadSanitizer can see that order too).
#pragma once

#include <QMetaObject>
#include <QObject>
#include <QThread>
#include <condition_variable>
#include <mutex>

namespace clipwright::ui {

template <typename Function> void CallOnOwnerThread(QObject* receiver, Function function) {
    if (QThread::currentThread() == receiver->thread()) {
        function();
        return;
    }
    std::mutex handoff;
    std::condition_variable returned;
    bool done = false;
    std::unique_lock<std::mutex> waiting(handoff);
    QMetaObject::invokeMethod(
        receiver,
        [&] {
            { std::lock_guard<std::mutex> callerHasWritten(handoff); }
            function();
            std::lock_guard<std::mutex> finished(handoff);
            done = true;
            returned.notify_one();
        },
        Qt::QueuedConnection);
    returned.wait(waiting, [&] { return done; });
}

} // namespace clipwright::ui
