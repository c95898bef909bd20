#include "MessageBoxes.h"

#include "Strings.h"

namespace clipwright::ui {

namespace {

void Describe(QMessageBox& box, const QString& text) {
    box.setAccessibleName(QString::fromUtf8(strings::kAppTitle));
    box.setAccessibleDescription(text);
    box.setObjectName(QStringLiteral("messageBox"));
}

} // namespace

void ShowMessageBox(QWidget* owner, const QString& text, QMessageBox::Icon icon) {
    QMessageBox box(icon, QString::fromUtf8(strings::kAppTitle), text, QMessageBox::Ok, owner);
    Describe(box, text);
    box.exec();
}

QMessageBox* OpenMessageBox(QWidget* owner, const QString& text, QMessageBox::Icon icon) {
    auto* box = new QMessageBox(icon, QString::fromUtf8(strings::kAppTitle), text, QMessageBox::Ok, owner);
    Describe(*box, text);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::ApplicationModal);
    box->show();
    return box;
}

} // namespace clipwright::ui
