#include "app/CommandLine.h"

namespace sondrel::app {

namespace {

void fail(CommandLine& line, const QString& error)
{
    if (line.error.isEmpty())
        line.error = error;
}

void readSite(const QString& text, CommandLine& line)
{
    bool ok = false;
    const int site = text.toInt(&ok);
    if (!ok || site < 1 || site > 3)
        fail(line, QStringLiteral("--site takes a site slot from 1 to 3, not \"%1\"").arg(text));
    else
        line.site = site;
}

} // namespace

CommandLine parseCommandLine(const QStringList& arguments)
{
    CommandLine line;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString& argument = arguments[i];
        if (argument == u"--help" || argument == u"-h") {
            line.help = true;
        } else if (argument == u"--no-window") {
            line.noWindow = true;
        } else if (argument == u"--site") {
            if (i + 1 < arguments.size())
                readSite(arguments[++i], line);
            else
                fail(line, QStringLiteral("--site needs a site slot from 1 to 3"));
        } else if (argument.startsWith(u"--site=")) {
            readSite(argument.mid(7), line);
        } else {
            fail(line, QStringLiteral("unknown option \"%1\" (see --help)").arg(argument));
        }
    }
    return line;
}

QString commandLineHelp()
{
    return QStringLiteral("Usage: sondrel [--no-window] [--site N]\n"
                          "Watches a web site and e-mails you when its state changes.\n"
                          "\n"
                          "  --no-window  Run without a window: the saved site slot is monitored as Start\n"
                          "               would, result lines go to standard output and messages to\n"
                          "               standard error. SIGINT, SIGTERM or SIGHUP stops the run\n"
                          "               (exit status 0); so does standard output closing, as when\n"
                          "               piped into head (exit status 3). A start refused for a\n"
                          "               setting ends with status 2, a lost connection with 1.\n"
                          "  --site N     The saved site slot to open, 1 to 3 (default 1).\n"
                          "  -h, --help   Show this help and end.\n");
}

} // namespace sondrel::app
