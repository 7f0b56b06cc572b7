#include "metrics/MetricsEndpoint.h"

#include "metrics/MetricsPage.h"

namespace sondrel::metrics {

MetricsEndpoint::MetricsEndpoint(core::MonitorHub& hub, QString version, QObject* parent)
    : QObject(parent)
    , m_server([&hub, version = std::move(version)](
                   Format format) { return renderPage(sampleSites(hub), sampleProgram(hub, version), format); },
               this)
{
}

QString MetricsEndpoint::servingNote() const
{
    return QStringLiteral("Serving metrics on %1 at /metrics").arg(listening().text());
}

} // namespace sondrel::metrics
