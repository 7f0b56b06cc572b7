#pragma once

#include "core/CertificateWatch.h"
#include "core/MonitorSettings.h"
#include "core/RunState.h"
#include "core/SlownessWatch.h"
#include "platform/MessageBoxes.h"
#include "platform/Services.h"

#include <QDateTime>
#include <QObject>
#include <QTimer>

#include <functional>
#include <memory>
#include <optional>

namespace sondrel::store {
class LogFiles;
}
namespace sondrel::probe {
class PageCheck;
}

namespace sondrel::core {

class AlertMailer;
class CheckCycle;
class NotificationQueue;

// What the site looks like after the latest step of the run.
enum class SiteStatus {
    Working,      // connected, and the site answered (or has not been asked yet)
    NoConnection, // no Internet connection, no ICMP socket, or the line could not be hung up
    NotAnswering, // the latest echo failed
};

// What one echo brought back, as the window shows it.
struct EchoReport {
    QString statusText;                    // "0   [ success ]" and the like
    QString tripTimeText;                  // "12 ms"
    QString bytesUsed;                     // the size of the reply's data
    std::optional<QString> packetReturned; // the data that came back, when there was any
};

// One echo as a measurement, for pictures of the run: when it was taken, its trip time (none when the
// check failed) and the run's average trip time as the result lines show it.
struct EchoSample {
    QDateTime at;
    std::optional<qint64> tripMs;
    qint64 averageMs = 0;
};

// A change of the site's state that the notification decision acted on, whether or not it was e-mailed.
enum class SiteChange { PingFailing, PingAnswering, PageTextFound, PageTextLost };

// Why a run has ended.
enum class RunEnd {
    Stopped,      // Stop was pressed: "Scan Stopped" has been told
    NoConnection, // a check found no Internet connection
};

// The monitoring run of one site: Start's preparation, then check after check until Stop or a failed
// connection; each check fetches the page when asked, sends one echo, logs the result line and lets the
// notification decision act. It shows nothing itself: observers learn through its signals what to show, and
// every message the user must see is a messageRaised signal whose receiver returns once the user has seen it.
// Every wait is a timer or a completion callback on the event loop, so Stop acts at once.
class Monitor final : public QObject {
    Q_OBJECT
public:
    // programFolder holds data/ and logs/.
    Monitor(platform::Services services, QString programFolder, QObject* parent = nullptr);
    ~Monitor() override;

    const QString& programFolder() const { return m_programFolder; }

    // Renews the logs, checks the settings and begins the first check. False when the settings were refused
    // (the reason has been raised) or a run is already under way.
    bool start(const MonitorSettings& settings);
    // Ends the run when the step under way is over; a check under way finishes and logs its line first.
    void stop();
    // Settings changed while the program runs: a run under way uses them from its next step on, and a wait
    // under way ends when the new interval has passed.
    void setSettings(const MonitorSettings& settings);
    // The program is ending: drop the run without any message or signal. Notifications under way go on.
    void abandon();
    // Closes the run's numbered log.
    void closeAllFiles();

    // The run's numbered log is open.
    bool isLogOpen() const;
    bool isRunning() const { return m_phase != Phase::Idle; }
    bool isWaiting() const { return m_phase == Phase::Waiting; }
    const MonitorSettings& settings() const { return m_settings; }
    const RunState& state() const { return m_state; }
    NotificationQueue& notifications() { return *m_notifications; }

    // Alerts are not e-mailed until the wall-clock time until (the platform clock's); the run, its logs and its
    // signals go on. When the snooze ends, at that time or by resume(), one e-mail sums up what it kept back.
    void snoozeUntil(const QDateTime& until);
    void resume();
    // The end of the snooze under way; invalid when alerts are not snoozed.
    QDateTime snoozedUntil() const;

signals:
    // Start was accepted; the first check follows at once.
    void runStarted();
    // A check begins with a connection at hand; checkNumber is shown as "No of Pings".
    void checkStarted(const QString& checkNumber);
    // The site's name was resolved: its address in dotted form, empty when it could not be resolved.
    void siteAddressResolved(const QString& address);
    void echoReported(const sondrel::core::EchoReport& report);
    void echoMeasured(const sondrel::core::EchoSample& sample);
    void siteChanged(sondrel::core::SiteChange change);
    // The site turned slow (a trip time or a page fetch over the slowness threshold in enough checks in a
    // row) or fast again; detail says what was measured.
    void slownessChanged(bool slow, const QString& detail);
    // The certificate of the checked https page expires within the warning period.
    void certificateExpiring(const QDateTime& expiry, const QString& issuer);
    // Alerts were snoozed until this time, or (invalid) are e-mailed again.
    void snoozeChanged(const QDateTime& until);
    void statusChanged(sondrel::core::SiteStatus status);
    // The text that explains the latest status, for the status picture's tooltip.
    void statusTextChanged(const QString& text);
    // A line for the result list.
    void resultLineAdded(const QString& line);
    void messageRaised(const QString& text, const QString& title, sondrel::platform::MessageIcon icon);
    void runFinished(sondrel::core::RunEnd end);

private:
    friend class CheckCycle;
    friend struct MonitorTestAccess; // lets tests set up a check in the middle of a run

    // Forwards what the log files have to tell the user to messageRaised.
    class RaisedMessages final : public platform::MessageBoxes {
    public:
        explicit RaisedMessages(Monitor& monitor)
            : m_monitor(monitor)
        {
        }
        void show(const QString& text, const QString& title, platform::MessageIcon icon) override
        {
            emit m_monitor.messageRaised(text, title, icon);
        }

    private:
        Monitor& m_monitor;
    };

    enum class Phase { Idle, Waiting, Checking, Ending };

    void raise(const QString& text, platform::MessageIcon icon = platform::MessageIcon::None);
    void nextPass();
    void waitStep();
    void check();
    void afterPageCheck();
    void afterCycle();
    void endWithScanStopped();
    void finishRun(RunEnd end);

    platform::Services m_services;
    QString m_programFolder;
    MonitorSettings m_settings;
    RunState m_state;
    RaisedMessages m_messages{*this};
    std::unique_ptr<store::LogFiles> m_logFiles;
    std::unique_ptr<probe::PageCheck> m_pageCheck;
    std::unique_ptr<NotificationQueue> m_notifications;
    std::unique_ptr<CheckCycle> m_checkCycle;
    std::unique_ptr<AlertMailer> m_alerts; // the slot's alert e-mails and the snooze
    Phase m_phase = Phase::Idle;
    QTimer m_timer;
    qint64 m_waitStart = 0;
    // What the latest check's page fetch measured, for the slowness and certificate warnings.
    bool m_pageFetched = false;          // the check fetched the page
    std::optional<qint64> m_pageFetchMs; // request to last byte, when the whole page arrived
    SlownessWatch m_slowness;
    CertificateWatch m_certificateWatch;
};

} // namespace sondrel::core
