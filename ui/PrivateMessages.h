// The four private messages that hand a repair between the main dialog, the progress window and the
// job's worker, as Qt events with the same numbers. All of them are delivered synchronously
// (QCoreApplication::sendEvent on the GUI thread).
#pragma once

#include <QEvent>
#include <QWidget>

namespace clipwright::ui {

inline constexpr QEvent::Type WM_FIX_FINISHED = static_cast<QEvent::Type>(0x860);
inline constexpr QEvent::Type WM_PROGRESS_READY = static_cast<QEvent::Type>(0x861);
inline constexpr QEvent::Type WM_START_FIX = static_cast<QEvent::Type>(0x862);
inline constexpr QEvent::Type WM_SHOW_PROGRESS = static_cast<QEvent::Type>(0x863);

// Show commands that WM_SHOW_PROGRESS carries.
inline constexpr int SW_HIDE = 0;
inline constexpr int SW_SHOW = 5;

class PrivateMessage : public QEvent {
public:
    PrivateMessage(QEvent::Type message, int wParam, QWidget* lParam)
        : QEvent(message), wParam_(wParam), lParam_(lParam) {}

    int WParam() const { return wParam_; }
    QWidget* LParam() const { return lParam_; }

private:
    int wParam_;
    QWidget* lParam_;
};

} // namespace clipwright::ui
