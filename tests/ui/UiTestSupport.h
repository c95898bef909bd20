// What the desktop program's tests share: answering the modal windows a click opens (from a timer,
// since the click does not return until they close), and finding the real dialogs' controls.
#pragma once

#include <QList>
#include <QObject>
#include <QPointer>
#include <QStringList>
#include <QTimer>
#include <QWidget>
#include <functional>

namespace clipwright::ui::test {

// Calls `handler` once for each modal window or pop-up menu that becomes the active one, after the
// timer's tick has returned, so that the handler may open further modal windows itself.
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
