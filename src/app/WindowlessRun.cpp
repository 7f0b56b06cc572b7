#include "app/WindowlessRun.h"

#include "core/DeliveryRetry.h"
#include "core/MonitorHub.h"
#include "core/NotificationQueue.h"
#include "platform/ClosedOutputWatch.h"
#include "platform/SystemServices.h"
#include "platform/TerminationSignals.h"
#include "store/AlertSettingsFile.h"
#include "store/SiteSettings.h"

#include <QCoreApplication>

#include <cerrno>
#include <cstdio>
#include <utility>

namespace sondrel::app {

namespace {

// False with errno set when the line did not reach the stream's file.
bool writeLine(FILE* stream, const QString& text)
{
    const QByteArray bytes = text.toLocal8Bit() + '\n';
    const bool written = std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream) == size_t(bytes.size());
    const bool flushed = std::fflush(stream) == 0;
    const int error = errno;
    std::clearerr(stream);
    errno = error;
    return written && flushed;
}

// Messages go to standard error and need nobody to close them.
class TerminalMessages final : public platform::MessageBoxes {
public:
    void show(const QString& text, const QString&, platform::MessageIcon) override { writeLine(stderr, text); }
};

// There is no desktop to open documents with.
class NoDesktopShell final : public platform::DesktopShell {
public:
    OpenResult openDocument(const QString&) override { return OpenResult::Failed; }
};

} // namespace

int runWithoutWindow(const QString& programFolder, int site)
{
    QString error;
    const std::optional<store::SiteSettings> stored = store::SiteSettingsFile(programFolder).load(site, &error);
    if (!stored) {
        writeLine(stderr, error);
        return 2;
    }

    TerminalMessages messages;
    NoDesktopShell shell;
    platform::SystemServices system;
    core::MonitorHub hub(system.services(messages, shell), programFolder);
    core::Monitor& monitor = hub.addRun();
    platform::TerminationSignals termination;
    platform::ClosedOutputWatch output(fileno(stdout));

    bool checked = false;
    bool outputClosed = false;
    int status = -1;
    QObject::connect(&monitor, &core::Monitor::resultLineAdded, [&output](const QString& line) {
        const bool written = writeLine(stdout, line);
        output.wroteTo(written, errno);
    });
    QObject::connect(&monitor, &core::Monitor::messageRaised,
                     [&messages, &monitor](const QString& text, const QString& title, platform::MessageIcon icon) {
                         messages.show(text, title, icon);
                         monitor.answerMessage();
                     });
    QObject::connect(&monitor, &core::Monitor::checkStarted, [&checked] { checked = true; });
    // The outbox's state is told each time its text changes, and so is every note about it.
    QString outboxText = core::outboxStatusText(0, {});
    QObject::connect(&hub.notifications(), &core::NotificationQueue::outboxChanged,
                     [&outboxText](int waiting, const QString& lastError) {
                         const QString text = core::outboxStatusText(waiting, lastError);
                         if (text != std::exchange(outboxText, text))
                             writeLine(stderr, text);
                     });
    QObject::connect(&hub.notifications(), &core::NotificationQueue::outboxNote,
                     [](const QString& note) { writeLine(stderr, note); });
    QObject::connect(&monitor, &core::Monitor::runFinished, [&](core::RunEnd end) {
        if (end == core::RunEnd::Stopped) {
            status = outputClosed ? kOutputClosedStatus : 0;
        } else {
            if (!checked)
                writeLine(stderr, QStringLiteral("Failed to connect to internet!"));
            status = checked ? 1 : 2;
        }
        QCoreApplication::exit(status);
    });
    QObject::connect(&termination, &platform::TerminationSignals::received, &monitor, &core::Monitor::stop);
    // Nobody reads the result lines any more: the run stops as on SIGTERM, its check under way still logged.
    QObject::connect(&output, &platform::ClosedOutputWatch::closed, &monitor, [&] {
        outputClosed = true;
        monitor.stop();
    });

    core::MonitorSettings settings = core::monitorSettingsFrom(*stored);
    settings.alerts = store::AlertSettingsFile(programFolder).load(site);
    if (!monitor.start(settings))
        return 2;
    if (status >= 0)
        return status; // the run ended before the event loop began
    return QCoreApplication::exec();
}

} // namespace sondrel::app
