#pragma once

#include <QString>
#include <QStringList>

namespace sondrel::app {

// What the program was asked to do on its command line.
struct CommandLine {
    bool help = false;     // --help or -h: print the options and end
    bool noWindow = false; // --no-window: run the site slot with no window, reporting on the terminal
    int site = 1;          // --site N: the saved site slot, 1 to 3
    QString error;         // one line for a bad option or value; empty when the line was understood
};

// Reads the arguments after the program name. "--site N" and "--site=N" are both understood.
CommandLine parseCommandLine(const QStringList& arguments);

// The text --help prints.
QString commandLineHelp();

} // namespace sondrel::app
