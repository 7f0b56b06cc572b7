#pragma once

#include "core/LatencyHistory.h"
#include "core/Monitor.h"
#include "core/NotificationGroups.h"
#include "core/NotificationQueue.h"
#include "core/PasswordVault.h"
#include "core/WakeQueue.h"

#include <QObject>

#include <memory>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace sondrel::core {

// The root of the monitoring: the site runs and the services they share. It owns the password vault, the one
// notification queue every run sends through (so that e-mails leave in the order their changes happened,
// whichever run saw them) with the groups in front of it (grouping for the time stored with the e-mail settings),
// and each run's latency history. Beside the main window's run it keeps one background run per saved site that is
// watched, and never two runs on one site.
// The windows and the windowless mode talk to the hub and to its runs.
class MonitorHub final : public QObject {
    Q_OBJECT
public:
    // Trip-time buckets kept per background run: a chart of one site among thousands needs less detail.
    static constexpr int kSiteLatencyBuckets = 128;

    // programFolder holds the shared data/ (outbox, passwords, e-mail settings) and logs/.
    MonitorHub(platform::Services services, QString programFolder, QObject* parent = nullptr);
    ~MonitorHub() override;

    const QString& programFolder() const { return m_programFolder; }
    NotificationQueue& notifications() { return m_notifications; }
    NotificationGroups& groups() { return m_groups; }
    PasswordVault& passwords() { return m_passwords; }

    // A new run of the main window's kind, whose logs and e-mail settings are in runFolder (the hub's folder
    // when empty).
    Monitor& addRun(const QString& runFolder = {});
    std::size_t runCount() const { return m_runs.size(); }
    Monitor& run(std::size_t index) { return *m_runs[index]->monitor; }
    // The trip times of a run of this hub, kept whether or not a chart shows them.
    const LatencyHistory& latency(const Monitor& run) const;

    // The background run of saved site `site` (1 or more), made at first use and kept from then on.
    Monitor& siteRun(int site);
    // The background run of the site if one was ever made; null otherwise.
    Monitor* existingSiteRun(int site) const;
    // The run going on for the site, whichever started it; null when none.
    Monitor* runningSite(int site) const;
    // Tells which saved site a run of addRun() is running now (0: its fields are no saved site).
    void setSite(Monitor& run, int site);

    // Starts the background runs of the given sites with their settings, leaving alone a site whose run is going
    // on. When more than one starts, their first checks are spread evenly over each one's first interval, so that
    // watching thousands at once does not send thousands of echoes at once; one alone checks at once. Returns the
    // number of runs started.
    int watch(const std::vector<std::pair<int, MonitorSettings>>& sites);
    // Stops every background run that is going on.
    void stopAll();
    // The runs going on now.
    int watchedCount() const { return int(m_running.size()); }
    // The runs going on now with the saved site each runs (0: fields that are no saved site), by site number.
    std::vector<std::pair<int, const Monitor*>> runningRuns() const;

signals:
    void watchedCountChanged(int count);
    void siteRunCreated(int site, sondrel::core::Monitor* run);
    // The connection check failed for a run after the connection was last seen working, or works again: told once
    // for all runs, however many are going on.
    void connectionLost();
    void connectionRestored();

private:
    struct Run {
        std::unique_ptr<Monitor> monitor;
        LatencyHistory latency;
        int site = 0;
    };

    Run& adopt(std::unique_ptr<Run> run);
    RunOptions backgroundOptions(int site);
    const Run* find(const Monitor& run) const;
    // Counts a run of the hub's folder starting (by 1) or ending (by -1), and tells the groups; the count.
    int countSharedRuns(const Monitor& changed, int by);

    platform::Services m_services;
    QString m_programFolder;
    PasswordVault m_passwords;
    NotificationQueue m_notifications;
    NotificationGroups m_groups;
    WakeQueue m_wakes; // the waits of the background runs, on one timer
    std::vector<std::unique_ptr<Run>> m_runs;
    std::unordered_map<int, Run*> m_siteRuns; // the background runs by site
    std::vector<Run*> m_windowRuns;           // the runs of addRun(), few beside thousands of background runs
    std::unordered_map<const Monitor*, Run*> m_byMonitor;
    std::unordered_set<const Monitor*> m_running; // runs between runStarted and runFinished
    int m_sharedRunning = 0;                      // runs going on in the hub's folder, which share its e-mail settings
    bool m_offline = false;
};

} // namespace sondrel::core
