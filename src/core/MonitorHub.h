#pragma once

#include "core/LatencyHistory.h"
#include "core/Monitor.h"
#include "core/NotificationQueue.h"
#include "core/PasswordVault.h"

#include <QObject>

#include <memory>
#include <vector>

namespace sondrel::core {

// The root of the monitoring: the site runs and the services they share. It owns the password vault, the one
// notification queue every run sends through (so that e-mails leave in the order their changes happened,
// whichever run saw them), and each run's latency history. The windows and the windowless mode talk to the hub
// and to its runs.
class MonitorHub final : public QObject {
    Q_OBJECT
public:
    // programFolder holds the shared data/ (outbox, passwords) and, for runs added without a folder, logs/.
    MonitorHub(platform::Services services, QString programFolder, QObject* parent = nullptr);
    ~MonitorHub() override;

    const QString& programFolder() const { return m_programFolder; }
    NotificationQueue& notifications() { return m_notifications; }
    PasswordVault& passwords() { return m_passwords; }

    // A new run whose logs and e-mail settings are in runFolder (the hub's folder when empty).
    Monitor& addRun(const QString& runFolder = {});
    std::size_t runCount() const { return m_runs.size(); }
    Monitor& run(std::size_t index) { return *m_runs[index]->monitor; }
    // The trip times of a run of this hub, kept whether or not a chart shows them.
    const LatencyHistory& latency(const Monitor& run) const;

private:
    struct Run {
        std::unique_ptr<Monitor> monitor;
        LatencyHistory latency;
    };

    platform::Services m_services;
    QString m_programFolder;
    PasswordVault m_passwords;
    NotificationQueue m_notifications;
    std::vector<std::unique_ptr<Run>> m_runs;
};

} // namespace sondrel::core
