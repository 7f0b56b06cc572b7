#pragma once

#include "core/CertificateWatch.h"
#include "core/MonitorSettings.h"
#include "core/RunEvents.h"
#include "core/RunFigures.h"
#include "core/RunState.h"
#include "core/SlownessWatch.h"
#include "platform/MessageBoxes.h"
#include "platform/Services.h"
#include "probe/PageCheck.h"
#include "store/LogFiles.h"

#include <QObject>
#include <QTimer>

#include <functional>
#include <memory>

namespace sondrel::core {

class AlertMailer;
class CheckCycle;
class FolderNotifications;
class NotificationGroups;
struct CheckOutcome;

// The monitoring run of one site, from its settings and the platform services: check after check until Stop or
// a failed connection, each fetching the page when asked, sending one echo, logging the result line and letting
// the notification decision act, through the queue every run shares. It shows nothing: observers learn through
// its signals what to show. A message the run waits on ("Scan Stopped", a failed hang-up) holds this run alone
// until answerMessage() is called. Every wait is a timer or a completion callback on the event loop.
class Monitor final : public QObject {
    Q_OBJECT
public:
    // programFolder holds data/ and, unless options name others, the logs.
    Monitor(platform::Services services, QString programFolder, NotificationGroups& notifications,
            RunOptions options = {}, QObject* parent = nullptr);
    ~Monitor() override;

    const QString& programFolder() const { return m_programFolder; }
    const RunOptions& options() const { return m_options; }

    // Renews the logs, checks the settings and begins the first check, after firstCheckMs when given. False when
    // the settings were refused (the reason is raised) or a run is under way.
    bool start(const MonitorSettings& settings, int firstCheckMs = 0);
    // Ends the run when the step under way is over; a check under way finishes and logs its line first.
    void stop();
    // Settings changed while the program runs: a run under way uses them from its next step on, and a wait
    // under way ends when the new interval has passed.
    void setSettings(const MonitorSettings& settings);
    // The user has closed the latest message; a run that waited on it goes on.
    void answerMessage();
    // The program is ending: drop the run without any message or signal. Notifications under way go on.
    void abandon();
    void closeAllFiles(); // closes the run's numbered log
    bool isLogOpen() const { return m_logFiles->isLogOpen(); }
    bool isRunning() const { return m_phase != Phase::Idle; }
    bool isWaiting() const { return m_phase == Phase::Waiting; }
    const MonitorSettings& settings() const { return m_settings; }
    const RunState& state() const { return m_state; }
    // The status statusChanged told last; Working from Start until a check tells otherwise.
    SiteStatus status() const { return m_status; }
    // What the run has measured since its Start.
    const RunFigures& figures() const { return m_figures; }

    // No alert is e-mailed until the wall-clock time until, or resume(); then one e-mail sums up what was kept.
    void snoozeUntil(const QDateTime& until);
    void resume();
    QDateTime snoozedUntil() const; // invalid when alerts are not snoozed

signals:
    void runStarted();                             // Start was accepted; the first check follows at once
    void checkStarted(const QString& checkNumber); // shown as "No of Pings"
    // The site's address in dotted form, empty when its name could not be resolved.
    void siteAddressResolved(const QString& address);
    void echoReported(const sondrel::core::EchoReport& report);
    void echoMeasured(const sondrel::core::EchoSample& sample);
    void siteChanged(sondrel::core::SiteChange change);
    void slownessChanged(bool slow, const QString& detail); // the site turned slow or fast again
    // The certificate of the checked https page expires within the warning period.
    void certificateExpiring(const QDateTime& expiry, const QString& issuer);
    void snoozeChanged(const QDateTime& until); // invalid: alerts are e-mailed again
    void statusChanged(sondrel::core::SiteStatus status);
    void statusTextChanged(const QString& text); // explains the latest status, for the picture's tooltip
    void resultLineAdded(const QString& line);   // a line for the result list
    void messageRaised(const QString& text, const QString& title, sondrel::platform::MessageIcon icon);
    void runFinished(sondrel::core::RunEnd end);
    void connectionChecked(bool connected); // before each check; a run that retries offline goes on either way

private:
    enum class Phase { Idle, Waiting, Checking, Ending };

    void raise(const QString& text, std::function<void()> afterAnswer = {}); // the run waits when afterAnswer
    void woken();
    void wakeIn(qint64 ms);
    void cancelWake();
    void renewLogs(); // a new numbered log and an empty record file
    void nextPass();
    void waitStep();
    void check();
    void process();
    void checked(const CheckOutcome& outcome);
    void checkstatuschangeandsendemailifrequired();
    void afterCycle();
    void endWithScanStopped();
    void finishRun(RunEnd end);
    void setStatus(SiteStatus status);

    platform::Services m_services;
    QString m_programFolder;
    RunOptions m_options;
    MonitorSettings m_settings;
    RunState m_state;
    RunFigures m_figures;
    SiteStatus m_status = SiteStatus::Working;
    std::unique_ptr<platform::MessageBoxes> m_logMessages; // what the log files tell, raised as messages
    std::unique_ptr<store::LogFiles> m_logFiles;
    std::unique_ptr<probe::PageCheck> m_pageCheck;
    std::unique_ptr<CheckCycle> m_checkCycle;
    std::unique_ptr<FolderNotifications> m_notifications;
    std::unique_ptr<AlertMailer> m_alerts; // the slot's alert e-mails and the snooze
    Phase m_phase = Phase::Idle;
    std::function<void()> m_afterAnswer; // what the run does once the message it waits on is answered
    QTimer m_timer;                      // the run's waits, unless it shares a wake queue
    quint64 m_wakeGeneration = 0;        // counts the steps asked for, so that a dropped one does nothing
    quint64 m_wakeTicket = 0;
    qint64 m_waitStart = 0;
    int m_firstCheckMs = 0;
    bool m_logsDue = false;              // the logs are renewed when the first check begins
    quint64 m_cycle = 0;                 // counts checks, so that a late callback of a dropped one is ignored
    bool m_pageFetched = false;          // the latest check fetched the page
    std::optional<qint64> m_pageFetchMs; // request to last byte, when the whole page arrived
    SlownessWatch m_slowness;
    CertificateWatch m_certificateWatch;
};

} // namespace sondrel::core
