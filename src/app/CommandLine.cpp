#include "app/CommandLine.h"

#include "store/SiteSettings.h"

#include <algorithm>

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
    if (!ok || site < 1 || site > store::kMaxSites)
        fail(line,
             QStringLiteral("--site takes a site number from 1 to %1, not \"%2\"").arg(store::kMaxSites).arg(text));
    else if (std::find(line.sites.begin(), line.sites.end(), site) != line.sites.end())
        fail(line, QStringLiteral("--site %1 is given more than once").arg(site));
    else
        line.sites.push_back(site);
}

void readMetrics(const QString& text, CommandLine& line)
{
    QString error;
    if (line.metrics)
        fail(line, QStringLiteral("--metrics is given more than once"));
    else if (auto at = platform::parseListenAddress(text, &error))
        line.metrics = *at;
    else
        fail(line, QStringLiteral("--metrics takes ADDRESS:PORT, :PORT or PORT: %1").arg(error));
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
        } else if (argument == u"--all-sites") {
            line.allSites = true;
        } else if (argument == u"--site") {
            if (i + 1 < arguments.size())
                readSite(arguments[++i], line);
            else
                fail(line, QStringLiteral("--site needs a site number from 1 to %1").arg(store::kMaxSites));
        } else if (argument.startsWith(u"--site=")) {
            readSite(argument.mid(7), line);
        } else if (argument == u"--metrics") {
            if (i + 1 < arguments.size())
                readMetrics(arguments[++i], line);
            else
                fail(line, QStringLiteral("--metrics needs ADDRESS:PORT, :PORT or PORT"));
        } else if (argument.startsWith(u"--metrics=")) {
            readMetrics(argument.mid(10), line);
        } else {
            fail(line, QStringLiteral("unknown option \"%1\" (see --help)").arg(argument));
        }
    }
    if (line.allSites && !line.sites.empty())
        fail(line, QStringLiteral("--all-sites watches every saved site: leave out --site"));
    // The window opens one site at a time.
    if (line.watchesSeveral() && !line.noWindow && !line.help)
        fail(line, QStringLiteral("several sites are watched at once only with --no-window"));
    return line;
}

QString commandLineHelp()
{
    return QStringLiteral("Usage: sondrel [--no-window] [--site N] [--metrics ADDRESS:PORT]\n"
                          "       sondrel --no-window (--site N --site M ... | --all-sites)\n"
                          "               [--metrics ADDRESS:PORT]\n"
                          "Watches web sites and e-mails you when their state changes.\n"
                          "\n"
                          "  --no-window  Run without a window: the saved site is monitored as Start\n"
                          "               would, result lines go to standard output and messages to\n"
                          "               standard error. SIGINT, SIGTERM or SIGHUP stops the run\n"
                          "               (exit status 0); so does standard output closing, as when\n"
                          "               piped into head (exit status 3). A start refused for a\n"
                          "               setting ends with status 2, a lost connection with 1.\n"
                          "  --site N     The saved site to open, 1 to %1 (default 1). Given more\n"
                          "               than once with --no-window, every site named is watched at\n"
                          "               once, each with its logs in logs/site-N/; every line and\n"
                          "               message begins with its site's number, as in \"[2] \". A site\n"
                          "               whose settings are refused is named on standard error and\n"
                          "               the others run; a lost connection is told once and each\n"
                          "               site tries again at its next check. A signal or standard\n"
                          "               output closing stops them all (status 0 or 3); status 2\n"
                          "               when none could start.\n"
                          "  --all-sites  With --no-window: watch every saved site that has a web\n"
                          "               address, as several --site options do.\n"
                          "  --metrics ADDRESS:PORT\n"
                          "               Serve the watched sites' metrics for Prometheus at\n"
                          "               http://ADDRESS:PORT/metrics. With :PORT or PORT alone only\n"
                          "               this machine may ask (127.0.0.1); * is every address, and\n"
                          "               [::1]:PORT an IPv6 one. A port that cannot be served ends\n"
                          "               the program with status 2.\n"
                          "  -h, --help   Show this help and end.\n")
        .arg(store::kMaxSites);
}

} // namespace sondrel::app
