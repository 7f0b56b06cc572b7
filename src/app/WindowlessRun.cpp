#include "app/WindowlessRun.h"

#include "app/Version.h"
#include "core/DeliveryRetry.h"
#include "core/MonitorHub.h"
#include "core/NotificationQueue.h"
#include "metrics/MetricsEndpoint.h"
#include "platform/ClosedOutputWatch.h"
#include "platform/SystemServices.h"
#include "platform/TerminationSignals.h"
#include "store/AlertSettingsFile.h"
#include "store/SettingsText.h"
#include "store/SiteSettings.h"

#include <QCoreApplication>

#include <cerrno>
#include <cstdio>
#include <utility>
#include <vector>

namespace sondrel::app {

namespace {

// False with errno set when the line did not reach the stream's file.
bool writeLine(FILE* stream, QByteArray bytes)
{
    bytes += '\n';
    const bool written = std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream) == size_t(bytes.size());
    const bool flushed = std::fflush(stream) == 0;
    const int error = errno;
    std::clearerr(stream);
    errno = error;
    return written && flushed;
}

bool writeLine(FILE* stream, const QString& text)
{
    return writeLine(stream, text.toLocal8Bit());
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

// The outbox's state is told each time its text changes, and so is every note about it.
void reportOutbox(core::NotificationQueue& queue)
{
    QObject::connect(&queue, &core::NotificationQueue::outboxChanged,
                     [shown = core::outboxStatusText(0, {})](int waiting, const QString& lastError) mutable {
                         const QString text = core::outboxStatusText(waiting, lastError);
                         if (text != std::exchange(shown, text))
                             writeLine(stderr, text);
                     });
    QObject::connect(&queue, &core::NotificationQueue::outboxNote,
                     [](const QString& note) { writeLine(stderr, note); });
}

// What a site's lines and messages begin with when several sites are watched.
QByteArray sitePrefix(int site)
{
    return '[' + QByteArray::number(site) + "] ";
}

// The sites' stored settings with their alert settings, as the runs take them; a site past the end of the settings
// file has none, so its start is refused for the missing address.
std::vector<std::pair<int, core::MonitorSettings>>
settingsOf(const QString& programFolder, const std::vector<store::SiteSettings>& stored, const std::vector<int>& sites)
{
    // One reading of data/alerts.ini for every site, each as AlertSettingsFile::load gives it: the defaults for a
    // site without a group, and for all when the file cannot be read.
    QByteArray text;
    const store::AlertSettingsBySite alerts =
        store::readSettingsText(store::AlertSettingsFile(programFolder).path(), text)
            ? store::AlertSettingsFile::parse(text)
            : store::AlertSettingsBySite{};
    std::vector<std::pair<int, core::MonitorSettings>> settings;
    settings.reserve(sites.size());
    for (const int site : sites) {
        const std::size_t index = std::size_t(site - 1);
        core::MonitorSettings run =
            core::monitorSettingsFrom(index < stored.size() ? stored[index] : store::SiteSettings{});
        if (const auto found = alerts.find(site); found != alerts.end())
            run.alerts = found->second;
        settings.emplace_back(site, std::move(run));
    }
    return settings;
}

// Serves the hub's metrics when an address was given, telling where on standard error; false, the reason told,
// when the address cannot be served.
bool serveMetrics(std::optional<metrics::MetricsEndpoint>& endpoint, core::MonitorHub& hub, const MetricsAddress& at)
{
    if (!at)
        return true;
    endpoint.emplace(hub, QStringLiteral(SONDREL_VERSION));
    if (const QString refusal = endpoint->listen(*at); !refusal.isEmpty()) {
        writeLine(stderr, refusal);
        return false;
    }
    writeLine(stderr, endpoint->servingNote());
    return true;
}

// Watches the sites as background runs of one hub until every run has finished; see runSitesWithoutWindow.
int watchSites(const QString& programFolder, const std::vector<std::pair<int, core::MonitorSettings>>& sites,
               const MetricsAddress& metrics)
{
    // The output watch outlives the hub, whose runs write through it to the end.
    platform::ClosedOutputWatch output(fileno(stdout));
    platform::TerminationSignals termination;
    TerminalMessages messages;
    NoDesktopShell shell;
    platform::SystemServices system;
    core::MonitorHub hub(system.services(messages, shell), programFolder);
    std::optional<metrics::MetricsEndpoint> endpoint;
    if (!serveMetrics(endpoint, hub, metrics))
        return 2;

    QObject::connect(&hub, &core::MonitorHub::siteRunCreated, [&output](int site, core::Monitor* run) {
        const QByteArray prefix = sitePrefix(site);
        QObject::connect(run, &core::Monitor::resultLineAdded, [&output, prefix](const QString& line) {
            const bool written = writeLine(stdout, prefix + line.toLocal8Bit());
            output.wroteTo(written, errno);
        });
        // Background runs go on by themselves after a message: nothing to answer.
        QObject::connect(run, &core::Monitor::messageRaised,
                         [prefix](const QString& text, const QString&, platform::MessageIcon) {
                             writeLine(stderr, prefix + text.toLocal8Bit());
                         });
    });
    QObject::connect(&hub, &core::MonitorHub::connectionLost,
                     [] { writeLine(stderr, QStringLiteral("Failed to connect to internet!")); });
    reportOutbox(hub.notifications());

    bool outputClosed = false;
    bool watching = false;
    QObject::connect(&hub, &core::MonitorHub::watchedCountChanged, [&](int count) {
        if (watching && count == 0)
            QCoreApplication::exit(outputClosed ? kOutputClosedStatus : 0);
    });
    QObject::connect(&termination, &platform::TerminationSignals::received, &hub, [&hub] { hub.stopAll(); });
    // Nobody reads the result lines any more: every run stops as on SIGTERM, its check under way still logged.
    QObject::connect(&output, &platform::ClosedOutputWatch::closed, &hub, [&] {
        outputClosed = true;
        hub.stopAll();
    });

    if (hub.watch(sites) == 0)
        return 2;
    watching = true;
    return QCoreApplication::exec();
}

} // namespace

int runWithoutWindow(const QString& programFolder, int site, const MetricsAddress& metrics)
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
    hub.setSite(monitor, site);
    std::optional<metrics::MetricsEndpoint> endpoint;
    if (!serveMetrics(endpoint, hub, metrics))
        return 2;
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
    reportOutbox(hub.notifications());
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

int runSitesWithoutWindow(const QString& programFolder, const std::vector<int>& sites, const MetricsAddress& metrics)
{
    QString error;
    const auto stored = store::SiteSettingsFile(programFolder).loadAll(&error);
    if (!stored) {
        writeLine(stderr, error);
        return 2;
    }
    return watchSites(programFolder, settingsOf(programFolder, *stored, sites), metrics);
}

int runAllSitesWithoutWindow(const QString& programFolder, const MetricsAddress& metrics)
{
    QString error;
    const store::SiteSettingsFile file(programFolder);
    const auto stored = file.loadAll(&error);
    if (!stored) {
        writeLine(stderr, error);
        return 2;
    }
    std::vector<int> sites;
    for (std::size_t i = 0; i < stored->size(); ++i) {
        if (!store::isUnusedSite((*stored)[i]))
            sites.push_back(int(i + 1));
    }
    if (sites.empty()) {
        writeLine(stderr, QStringLiteral("No saved site has a web address in %1").arg(file.path()));
        return 2;
    }
    return watchSites(programFolder, settingsOf(programFolder, *stored, sites), metrics);
}

} // namespace sondrel::app
