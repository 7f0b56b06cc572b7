#include "app/Application.h"

#include "app/CommandLine.h"
#include "app/MainWindow.h"
#include "app/QtDesktopShell.h"
#include "app/SystemMessageBoxes.h"
#include "app/Version.h"
#include "app/WindowlessRun.h"
#include "metrics/MetricsEndpoint.h"
#include "platform/SystemServices.h"
#include "platform/TerminationSignals.h"
#include "store/Paths.h"
#include "store/ProgramLock.h"

#include <QApplication>
#include <QDir>
#include <QIcon>

#include <cstdio>

namespace sondrel::app {

namespace {

int commandLineError(const QString& error)
{
    std::fprintf(stderr, "sondrel: %s\n", qPrintable(error));
    return 2;
}

// The arguments less the window system's own options (such as -platform offscreen), which QApplication
// takes for itself.
QStringList withoutWindowSystemOptions(const QStringList& arguments)
{
    static const QStringList withValue = {"platform",        "platformpluginpath", "platformtheme", "plugin",
                                          "qwindowgeometry", "qwindowicon",        "qwindowtitle",  "session",
                                          "display",         "geometry",           "style",         "stylesheet"};
    static const QStringList flags = {"reverse", "widgetcount", "nograb", "dograb"};
    QStringList kept;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        QString name = arguments[i];
        while (name.startsWith(u'-'))
            name.remove(0, 1);
        if (name.isEmpty() || name == arguments[i] || !(withValue.contains(name) || flags.contains(name))) {
            kept.append(arguments[i]);
            continue;
        }
        if (withValue.contains(name))
            ++i;
    }
    return kept;
}

QString alreadyRunning(const QString& folder)
{
    return QStringLiteral("Sondrel is already running from %1. Only one copy may use a program folder at a time.")
        .arg(QDir::toNativeSeparators(folder.isEmpty() ? QStringLiteral("/") : folder));
}

// Why this copy may not start on the folder, or nothing when the lock is taken (or there is nothing to guard).
QString lockRefusal(store::ProgramLock& lock, const QString& folder)
{
    switch (lock.acquire()) {
    case store::ProgramLock::Result::HeldByAnother:
        return alreadyRunning(folder);
    case store::ProgramLock::Result::NotALockFile:
        return lock.problem();
    case store::ProgramLock::Result::Acquired:
    case store::ProgramLock::Result::Unavailable:
        break;
    }
    return {};
}

void setIdentity()
{
    QCoreApplication::setApplicationName(QStringLiteral("Sondrel"));
    QCoreApplication::setApplicationVersion(QStringLiteral(SONDREL_VERSION));
}

} // namespace

int runApplication(int argc, char* argv[])
{
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));

    // Help, errors and the windowless mode must work without a display, so they are settled before any
    // window system is touched.
    const CommandLine line = parseCommandLine(withoutWindowSystemOptions(arguments));
    if (!line.error.isEmpty())
        return commandLineError(line.error);
    if (line.help) {
        std::fputs(qPrintable(commandLineHelp()), stdout);
        return 0;
    }
    if (line.noWindow) {
        QCoreApplication application(argc, argv);
        setIdentity();
        const QString folder = store::openProgramFolder(QCoreApplication::applicationDirPath());
        store::ProgramLock lock(folder);
        if (const QString refusal = lockRefusal(lock, folder); !refusal.isEmpty()) {
            std::fprintf(stderr, "%s\n", qPrintable(refusal));
            return 2;
        }
        if (line.allSites)
            return runAllSitesWithoutWindow(folder, line.metrics);
        if (line.watchesSeveral())
            return runSitesWithoutWindow(folder, line.sites, line.metrics);
        return runWithoutWindow(folder, line.site(), line.metrics);
    }

    QApplication application(argc, argv);
    setIdentity();
    QApplication::setQuitOnLastWindowClosed(false);
    // The desktop file's name lets the shell match the window to its menu entry and icon.
    QGuiApplication::setDesktopFileName(QStringLiteral("io.github.sondrel.Sondrel"));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/icons/sondrel.svg")));
    SystemMessageBoxes messages;
    const QString folder = store::openProgramFolder(QApplication::applicationDirPath());
    store::ProgramLock lock(folder);
    if (const QString refusal = lockRefusal(lock, folder); !refusal.isEmpty()) {
        messages.show(refusal, platform::applicationTitle(), platform::MessageIcon::Exclamation);
        return 2;
    }

    QtDesktopShell shell;
    platform::SystemServices system;
    MainWindow window(system.services(messages, shell), folder);
    // Before the window shows, so that an address that cannot be served ends the program as a bad option does.
    metrics::MetricsEndpoint endpoint(window.hub(), QStringLiteral(SONDREL_VERSION));
    if (line.metrics) {
        if (const QString refusal = endpoint.listen(*line.metrics); !refusal.isEmpty())
            return commandLineError(refusal);
        std::fprintf(stderr, "%s\n", qPrintable(endpoint.servingNote()));
    }
    if (line.site() != 1)
        window.openSite(line.site());
    // Logging out, a closed terminal or a service manager ends the program as Exit does: the files are closed,
    // what is waiting to be sent stays in the outbox and the lock is given up.
    platform::TerminationSignals termination;
    QObject::connect(&termination, &platform::TerminationSignals::received, &window, &MainWindow::endProgram);
    window.show();
    return QApplication::exec();
}

} // namespace sondrel::app
