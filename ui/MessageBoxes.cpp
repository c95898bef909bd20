#include "MessageBoxes.h"

#include "Strings.h"

namespace clipwright::ui {

void ShowMessageBox(QWidget* owner, const QString& text, QMessageBox::Icon icon) {
    QMessageBox box(icon, QString::fromUtf8(strings::kAppTitle), text, QMessageBox::Ok, owner);
    box.setAccessibleName(QString::fromUtf8(strings::kAppTitle));
    box.setAccessibleDescription(text);
    box.setObjectName(QStringLiteral("messageBox"));
    box.exec();
}

} // namespace clipwright::ui
