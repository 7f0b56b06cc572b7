#include "core/MonitorHub.h"

#include <algorithm>

namespace sondrel::core {

MonitorHub::MonitorHub(platform::Services services, QString programFolder, QObject* parent)
    : QObject(parent)
    , m_services(services)
    , m_programFolder(std::move(programFolder))
    , m_passwords(services.secrets, m_programFolder)
    , m_notifications(services, m_programFolder, m_passwords)
{
}

// The runs go before the queue, which keeps what they left unsent in the outbox.
MonitorHub::~MonitorHub()
{
    m_runs.clear();
}

Monitor& MonitorHub::addRun(const QString& runFolder)
{
    auto run = std::make_unique<Run>();
    run->monitor =
        std::make_unique<Monitor>(m_services, runFolder.isEmpty() ? m_programFolder : runFolder, m_notifications);
    Monitor* monitor = run->monitor.get();
    LatencyHistory* latency = &run->latency;
    connect(monitor, &Monitor::runStarted, this, [latency] { latency->clear(); });
    connect(monitor, &Monitor::echoMeasured, this, [latency](const EchoSample& sample) {
        latency->add(sample.at.toMSecsSinceEpoch(), sample.tripMs, sample.averageMs);
    });
    m_runs.push_back(std::move(run));
    return *monitor;
}

const LatencyHistory& MonitorHub::latency(const Monitor& run) const
{
    const auto found = std::find_if(m_runs.begin(), m_runs.end(),
                                    [&run](const std::unique_ptr<Run>& each) { return each->monitor.get() == &run; });
    Q_ASSERT(found != m_runs.end());
    return (*found)->latency;
}

} // namespace sondrel::core
