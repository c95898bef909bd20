#include "UiTestSupport.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QtTest>
#include <chrono>

namespace clipwright::ui::test {

namespace {

void Dismiss(QWidget* window) {
    if (auto* dialog = qobject_cast<QDialog*>(window))
        dialog->reject();
    else
        window->close();
}

} // namespace

ModalWatcher::ModalWatcher(Handler onModal) : handler(std::move(onModal)) {
    connect(&timer, &QTimer::timeout, this, &ModalWatcher::Look);
    timer.start(20);
}

ModalWatcher::~ModalWatcher() {
    timer.stop();
}

void ModalWatcher::Look() {
    QWidget* active = QApplication::activePopupWidget();
    if (active == nullptr)
        active = QApplication::activeModalWidget();
    // The progress window is modal to the main dialog but asks nothing of the user.
    if (active == nullptr || active == lastSeen || !active->isVisible() ||
        active->objectName() == QStringLiteral("progressWindow"))
        return;
    lastSeen = active;
    ++seen;
    if (auto* box = qobject_cast<QMessageBox*>(active))
        messageTexts.append(box->text());
    // Handled after this tick returns: a handler that opens another modal window keeps the timer free.
    QPointer<QWidget> target = active;
    QTimer::singleShot(0, this, [this, target] {
        if (target == nullptr)
            return;
        handler(target);
        if (QTest::currentTestFailed() && target != nullptr && target->isVisible())
            Dismiss(target);
    });
}

RepairJob::Runner JobHold::Runner() {
    return [shared = state](RepairEngine& engine, FixRequest request, std::stop_token stop) {
        ++shared->starts;
        std::unique_lock<std::mutex> lock(shared->mutex);
        if (!shared->released.wait(lock, stop, [&shared] { return shared->isReleased; }))
            return;
        lock.unlock();
        engine.RunFixJob(std::move(request));
    };
}

void JobHold::Release() {
    std::lock_guard<std::mutex> lock(state->mutex);
    state->isReleased = true;
    state->released.notify_all();
}

HangGuard::HangGuard(const char* step, int seconds)
    : watchdog([this, step, seconds](std::stop_token stop) {
          std::unique_lock<std::mutex> lock(mutex);
          if (!finished.wait_for(lock, stop, std::chrono::seconds(seconds), [] { return false; }) &&
              !stop.stop_requested())
              qFatal("%s did not return within %d s", step, seconds);
      }) {}

HangGuard::~HangGuard() {
    watchdog.request_stop();
}

FontAtDpi::FontAtDpi(int dpi) : original(QApplication::font()) {
    QFont scaled = original;
    scaled.setPointSizeF(original.pointSizeF() * dpi / QApplication::primaryScreen()->logicalDotsPerInchY());
    QApplication::setFont(scaled);
}

FontAtDpi::~FontAtDpi() {
    QApplication::setFont(original);
}

void ClickOk(QWidget* messageBox) {
    auto* box = qobject_cast<QMessageBox*>(messageBox);
    QVERIFY(box != nullptr);
    QAbstractButton* ok = box->button(QMessageBox::Ok);
    QVERIFY(ok != nullptr);
    ok->click();
}

QList<QWidget*> VisibleTopLevelWindows() {
    QList<QWidget*> visible;
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (widget->isVisible())
            visible.append(widget);
    }
    return visible;
}

void ChooseFileInMainDialog(QWidget* mainDialog, const QString& path) {
    ModalWatcher watcher([path](QWidget* modal) {
        auto* dialog = qobject_cast<QFileDialog*>(modal);
        QVERIFY(dialog != nullptr);
        dialog->selectFile(path);
        // The name field has the focus, so selectFile() leaves it alone: type the name as a user would.
        auto* nameField = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        QVERIFY(nameField != nullptr);
        nameField->setText(QFileInfo(path).fileName());
        // The dialog reads its folder in the background; it accepts only a file it has listed.
        QTRY_VERIFY(!dialog->selectedFiles().isEmpty());
        static_cast<QDialog*>(dialog)->accept(); // public there, virtual
    });
    Child<QPushButton>(mainDialog, "selectButton")->click();
    QCOMPARE(watcher.Seen(), 1);
}

} // namespace clipwright::ui::test
