#pragma once

#include "platform/MetricsServer.h"

#include <QObject>
#include <QString>

namespace sondrel::core {
class MonitorHub;
}

namespace sondrel::metrics {

// The hub's runs as a page for Prometheus and other systems that scrape metrics, served over HTTP once listen()
// has succeeded.
class MetricsEndpoint final : public QObject {
    Q_OBJECT
public:
    MetricsEndpoint(core::MonitorHub& hub, QString version, QObject* parent = nullptr);

    // Empty on success, else why the address cannot be served.
    QString listen(const platform::ListenAddress& at) { return m_server.listen(at); }
    // The address and port served.
    platform::ListenAddress listening() const { return m_server.listening(); }
    // "Serving metrics on 127.0.0.1:9420 at /metrics"
    QString servingNote() const;

private:
    platform::MetricsServer m_server;
};

} // namespace sondrel::metrics
