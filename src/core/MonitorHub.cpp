#include "core/MonitorHub.h"

#include "mail/MailSecurity.h"

#include <algorithm>
#include <cmath>

namespace sondrel::core {

MonitorHub::MonitorHub(platform::Services services, QString programFolder, QObject* parent)
    : QObject(parent)
    , m_services(services)
    , m_programFolder(std::move(programFolder))
    , m_passwords(services.secrets, m_programFolder)
    , m_notifications(services, m_programFolder, m_passwords)
    , m_groups(m_notifications, m_programFolder)
    , m_wakes(services.clock)
{
    // The grouping time is an e-mail setting; a file that cannot be read leaves the default.
    if (const std::optional<mail::MailSecurity> stored = mail::MailSecurityFile(m_programFolder).load())
        m_groups.setGroupSeconds(stored->groupSeconds);
}

// The runs go before the queue, which keeps what they left unsent in the outbox.
MonitorHub::~MonitorHub()
{
    for (const std::unique_ptr<Run>& run : m_runs)
        run->monitor->disconnect(this);
    m_runs.clear();
}

Monitor& MonitorHub::addRun(const QString& runFolder)
{
    auto run = std::make_unique<Run>();
    run->monitor = std::make_unique<Monitor>(m_services, runFolder.isEmpty() ? m_programFolder : runFolder, m_groups);
    Run& adopted = adopt(std::move(run));
    m_windowRuns.push_back(&adopted);
    return *adopted.monitor;
}

RunOptions MonitorHub::backgroundOptions(int site)
{
    RunOptions options = RunOptions::background(m_programFolder, site);
    options.wakes = &m_wakes;
    return options;
}

Monitor& MonitorHub::siteRun(int site)
{
    if (Monitor* existing = existingSiteRun(site))
        return *existing;
    auto run = std::make_unique<Run>();
    run->latency = LatencyHistory(kSiteLatencyBuckets);
    run->site = site;
    run->monitor = std::make_unique<Monitor>(m_services, m_programFolder, m_groups, backgroundOptions(site));
    Run& adopted = adopt(std::move(run));
    m_siteRuns.emplace(site, &adopted);
    emit siteRunCreated(site, adopted.monitor.get());
    return *adopted.monitor;
}

MonitorHub::Run& MonitorHub::adopt(std::unique_ptr<Run> run)
{
    Monitor* monitor = run->monitor.get();
    LatencyHistory* latency = &run->latency;
    connect(monitor, &Monitor::runStarted, this, [this, monitor, latency] {
        latency->clear();
        if (m_running.insert(monitor).second)
            countSharedRuns(*monitor, 1);
        emit watchedCountChanged(watchedCount());
    });
    connect(monitor, &Monitor::runFinished, this, [this, monitor] {
        // What waits in a group goes now when its sites are no longer watched together.
        if (m_running.erase(monitor) != 0 && countSharedRuns(*monitor, -1) <= 1)
            m_groups.flush();
        emit watchedCountChanged(watchedCount());
    });
    connect(monitor, &Monitor::echoMeasured, this, [latency](const EchoSample& sample) {
        latency->add(sample.at.toMSecsSinceEpoch(), sample.tripMs, sample.averageMs);
    });
    connect(monitor, &Monitor::connectionChecked, this, [this](bool connected) {
        if (connected == !m_offline)
            return;
        m_offline = !connected;
        if (m_offline)
            emit connectionLost();
        else
            emit connectionRestored();
    });
    m_runs.push_back(std::move(run));
    m_byMonitor.emplace(monitor, m_runs.back().get());
    return *m_runs.back();
}

int MonitorHub::countSharedRuns(const Monitor& changed, int by)
{
    if (changed.programFolder() == m_programFolder)
        m_sharedRunning += by;
    m_groups.setWatchedSites(m_sharedRunning);
    return m_sharedRunning;
}

const MonitorHub::Run* MonitorHub::find(const Monitor& run) const
{
    const auto found = m_byMonitor.find(&run);
    return found == m_byMonitor.end() ? nullptr : found->second;
}

const LatencyHistory& MonitorHub::latency(const Monitor& run) const
{
    const Run* found = find(run);
    Q_ASSERT(found);
    return found->latency;
}

std::vector<std::pair<int, const Monitor*>> MonitorHub::runningRuns() const
{
    std::vector<std::pair<int, const Monitor*>> running;
    running.reserve(m_running.size());
    for (const Monitor* monitor : m_running)
        running.emplace_back(find(*monitor)->site, monitor);
    std::sort(running.begin(), running.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    return running;
}

Monitor* MonitorHub::existingSiteRun(int site) const
{
    const auto found = m_siteRuns.find(site);
    return found == m_siteRuns.end() ? nullptr : found->second->monitor.get();
}

Monitor* MonitorHub::runningSite(int site) const
{
    if (site <= 0)
        return nullptr;
    if (Monitor* background = existingSiteRun(site); background && background->isRunning())
        return background;
    // Only the window's runs are looked through: watching thousands of sites asks this for each of them.
    for (const Run* run : m_windowRuns) {
        if (run->site == site && run->monitor->isRunning())
            return run->monitor.get();
    }
    return nullptr;
}

void MonitorHub::setSite(Monitor& run, int site)
{
    if (Run* found = m_byMonitor.contains(&run) ? m_byMonitor.at(&run) : nullptr; found && run.options().site == 0)
        found->site = site;
}

int MonitorHub::watch(const std::vector<std::pair<int, MonitorSettings>>& sites)
{
    std::vector<const std::pair<int, MonitorSettings>*> starting;
    for (const auto& site : sites) {
        if (site.first > 0 && !runningSite(site.first))
            starting.push_back(&site);
    }
    const double count = double(starting.size());
    int started = 0;
    for (std::size_t i = 0; i < starting.size(); ++i) {
        const auto& [site, settings] = *starting[i];
        const double spread = std::min(settings.intervalSeconds * 1000.0, 86'400'000.0) * double(i) / count;
        if (siteRun(site).start(settings, int(std::lround(spread))))
            ++started;
    }
    return started;
}

void MonitorHub::stopAll()
{
    for (const auto& [site, run] : m_siteRuns) {
        if (run->monitor->isRunning())
            run->monitor->stop();
    }
}

} // namespace sondrel::core
