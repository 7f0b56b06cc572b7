#pragma once

#include <QString>

namespace sondrel::app {

// Runs saved site slot `site` of the program folder with no window, as Start would in the main window: each
// result line goes to standard output as it is added, each message to standard error, and SIGINT, SIGTERM or
// SIGHUP acts as Stop, and so does standard output closing (the reader of its pipe gone). Returns the exit
// status: 0 after Stop, 2 when the run could not begin (a refused setting, an unreadable settings file, no
// connection for the first check), 1 when the connection was lost later, kOutputClosedStatus when the run
// stopped because standard output was closed. Needs a running QCoreApplication.
int runWithoutWindow(const QString& programFolder, int site);

inline constexpr int kOutputClosedStatus = 3;

} // namespace sondrel::app
