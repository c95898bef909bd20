// The desktop program's command line: `Clipwright [FILE]`, `--help`, `--version`.
#pragma once

#include <QString>
#include <QStringList>
#include <optional>

namespace clipwright::ui {

// The file to start with (empty when none is given). --help and --version print their text and end
// the program, as an unknown option does with its error; a second file is refused with a message on
// standard error, and then nothing is returned.
std::optional<QString> ReadCommandLine(const QStringList& arguments);

} // namespace clipwright::ui
