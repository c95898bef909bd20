#include "UiTestSupport.h"

#include <QAbstractButton>
#include <QApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QtTest>

namespace clipwright::ui::test {

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
        active->objectName() == QStringLiteral("progressDialog"))
        return;
    lastSeen = active;
    ++seen;
    if (auto* box = qobject_cast<QMessageBox*>(active))
        messageTexts.append(box->text());
    // Handled after this tick returns: a handler that opens another modal window keeps the timer free.
    QPointer<QWidget> target = active;
    QTimer::singleShot(0, this, [this, target] {
        if (target != nullptr)
            handler(target);
    });
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
