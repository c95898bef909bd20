// The program's message boxes: captioned with the program's name (a box without a title of its own
// would have an empty accessible name), one OK button.
#pragma once

#include <QMessageBox>
#include <QString>

namespace clipwright::ui {

// Shows the box and returns when the user has closed it.
void ShowMessageBox(QWidget* owner, const QString& text, QMessageBox::Icon icon);

// Shows the box, modal to the whole program, and returns at once; the box deletes itself when
// closed, after emitting finished().
QMessageBox* OpenMessageBox(QWidget* owner, const QString& text, QMessageBox::Icon icon);

} // namespace clipwright::ui
