#pragma once
// Where the texts of the program's start go (its help, its version, why it
// cannot start): where the person who started it sees them. On Linux the
// standard output and error. On Windows the panel is a window program with no
// console: a message box, unless the program was started from a console or
// with its output redirected (as Qt's own command-line parser decides), where
// the streams are read. Platform code: StartTexts_linux.cpp, StartTexts_win.cpp.

#include <QString>

namespace app {

// Shows `out` (help, the version) and `err` (an error), each when not
// empty; a box has `title` as its caption.
void showStartTexts(const QString& title, const QString& out, const QString& err);

}  // namespace app
