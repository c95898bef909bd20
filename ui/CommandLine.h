// The desktop program's command line: `Clipwright [FILE...]`, `--help`, `--version`.
#pragma once

#include <QStringList>

namespace clipwright::ui {

// The files to start with, repaired one after the other by Fix (none when none is given). --help and
// --version print their text and end the program, as an unknown option does with its error.
QStringList ReadCommandLine(const QStringList& arguments);

} // namespace clipwright::ui
