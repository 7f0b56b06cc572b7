#pragma once

#include "platform/MetricsServer.h"

#include <QString>

#include <optional>
#include <vector>

namespace sondrel::app {

// Runs saved site `site` of the program folder with no window, as Start would in the main window: each
// result line goes to standard output as it is added, each message to standard error, and SIGINT, SIGTERM or
// SIGHUP acts as Stop, and so does standard output closing (the reader of its pipe gone). Returns the exit
// status: 0 after Stop, 2 when the run could not begin (a refused setting, an unreadable settings file, no
// connection for the first check), 1 when the connection was lost later, kOutputClosedStatus when the run
// stopped because standard output was closed. Needs a running QCoreApplication.
// With metrics, the run's metrics are served at that address from before the first check, and an address that
// cannot be served ends the run before it begins, with status 2 and the reason on standard error.
using MetricsAddress = std::optional<platform::ListenAddress>;
int runWithoutWindow(const QString& programFolder, int site, const MetricsAddress& metrics = {});

// Watches the saved sites at once with no window, each as a background run of the hub with its logs in
// logs/site-N/: each result line goes to standard output and each message to standard error, led by the site's
// number in brackets ("[2] "). A site whose settings are refused is told so and the others run. A failed
// connection is told once; the runs try again at their next checks. SIGINT, SIGTERM, SIGHUP or standard output
// closing stops every run. Returns 0 (or kOutputClosedStatus) once every run has finished, 2 when none could
// start or the settings file cannot be read. Needs a running QCoreApplication.
int runSitesWithoutWindow(const QString& programFolder, const std::vector<int>& sites,
                          const MetricsAddress& metrics = {});
// The same for every saved site that has a web address; 2 when there is none.
int runAllSitesWithoutWindow(const QString& programFolder, const MetricsAddress& metrics = {});

inline constexpr int kOutputClosedStatus = 3;

} // namespace sondrel::app
