// The window program's start: its command line, title, icon and main window, then the event
// loop until the program ends.
//
//   penamo          the empty window
//   penamo FILE     the window, with FILE opened as the open command opens a chosen file once
//                   the window shows (a box tells why it cannot be read; the window stays)
//
// More than one operand, or an empty one, is refused before any window is made.
#pragma once

#include <QStringList>

namespace penamo {

class TApplication;

// Exit codes of the window program.
inline constexpr int ExitUsage = 2;

// Runs the program on `app` with the command line's operands (Qt's own options already taken
// out, the program's name left out). Returns the exit code.
int RunProgram(TApplication& app, const QStringList& operands);

}  // namespace penamo
