// The program's message boxes: captioned with the program's name (a box without a title of its own
// would have an empty accessible name), one OK button, shown modally until the user closes them.
#pragma once

#include <QMessageBox>
#include <QString>

namespace clipwright::ui {

void ShowMessageBox(QWidget* owner, const QString& text, QMessageBox::Icon icon);

} // namespace clipwright::ui
