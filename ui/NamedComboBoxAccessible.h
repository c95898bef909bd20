// How screen readers hear an editable combo box that has a name of its own. On Linux, Qt gives such
// a box its value as its name (it leaves the naming to a label relation that readers do not all
// follow), so the frame-rate box would be heard as "15". A box marked with MarkNamed() is heard by
// its accessible name, with its text as the value.
#pragma once

class QComboBox;

namespace clipwright::ui {

// Marks `box` and makes sure the accessibility factory that names it is installed.
void MarkNamed(QComboBox* box);

} // namespace clipwright::ui
