#pragma once

#include "platform/MetricsServer.h"

#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

namespace sondrel::app {

// What the program was asked to do on its command line.
struct CommandLine {
    bool help = false;      // --help or -h: print the options and end
    bool noWindow = false;  // --no-window: run with no window, reporting on the terminal
    std::vector<int> sites; // --site N, once or more: saved sites 1 to kMaxSites, in the order given
    bool allSites = false;  // --all-sites: every saved site with a web address
    std::optional<platform::ListenAddress> metrics; // --metrics ADDRESS:PORT: serve the runs' metrics there
    QString error; // one line for a bad option or value; empty when the line was understood

    // The one site a window or a single windowless run opens: the first --site, else site 1.
    int site() const { return sites.empty() ? 1 : sites.front(); }
    // More than one site is watched at once, each as a background run with its own logs.
    bool watchesSeveral() const { return allSites || sites.size() > 1; }
};

// Reads the arguments after the program name. "--site N" and "--site=N" are both understood, and so are
// "--metrics A" and "--metrics=A".
CommandLine parseCommandLine(const QStringList& arguments);

// The text --help prints.
QString commandLineHelp();

} // namespace sondrel::app
