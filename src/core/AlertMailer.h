#pragma once

#include "core/AlertPolicy.h"
#include "core/MonitorSettings.h"
#include "core/NotificationSink.h"
#include "core/RunEvents.h"
#include "platform/Clock.h"

#include <QDateTime>
#include <QObject>
#include <QStringList>
#include <QTimer>

#include <functional>

namespace sondrel::core {

// The e-mails a site slot's alert settings add to the run's change notifications: a recovery notice in place of
// the change e-mail when a site reported down answers again, reminders while it stays down, and one e-mail for
// each slowness or certificate report of the monitor. While alerts are snoozed nothing is e-mailed: what would
// have been is kept, and one summary goes out when the snooze ends. Every e-mail goes to the run's notification
// sink, which composes it as the change notification is.
class AlertMailer final : public QObject {
    Q_OBJECT
public:
    AlertMailer(platform::Clock& clock, NotificationSink& sink);

    // The run's settings: whether it e-mails at all, and the slot's alert settings.
    void setSettings(const MonitorSettings& settings);
    // The number of the check whose lines an e-mail attaches; empty while a check is under way.
    void setRecordNumber(const QString& recordNumber) { m_recordNumber = recordNumber; }
    // A run begins: no outage, no reminder due. A snooze goes on.
    void runStarted();
    // Counts one check's echo; returns the ping status as the notification decision is to see it.
    bool echoChecked(bool failed, const QString& statusText);
    bool pingOk() const { return m_policy.pingOk(); }

    // The decision at the end of a check acted on changes, in the order ping, page; send: it decided an e-mail.
    // Sends what is due now, or keeps it while snoozed. done runs once the run may go on, at once when nothing
    // is sent.
    void checkEnded(const QList<SiteChange>& changes, bool send, std::function<void()> done);
    // The monitor's warnings: the site turned slow or fast again, its certificate expires soon.
    void slownessChanged(bool slow, const QString& detail);
    void certificateExpiring(const QDateTime& expiry, const QString& issuer);

    // Keeps alerts from being e-mailed until the wall-clock time until; a snooze under way gets the new end.
    void snoozeUntil(const QDateTime& until);
    // Ends a snooze at once, e-mailing the summary of what it kept.
    void resume();
    // The end of the snooze under way; invalid when alerts are not snoozed.
    QDateTime snoozedUntil() const { return m_snoozedUntil; }

    // "1 h 5 min", "3 min", "42 s": a duration as the alert e-mails write it.
    static QString durationText(qint64 ms);
    // The next 08:00 local time after now.
    static QDateTime nextMorning(const QDateTime& now);

signals:
    // Alerts were snoozed until this time, or (invalid) are no longer snoozed.
    void snoozeChanged(const QDateTime& until);

private:
    // Sends an alert of its own kind, or keeps its summary line while snoozed.
    void alert(const QString& subjectSuffix, const QString& lead, const QString& summaryLine,
               std::function<void()> done = {});
    // The stored notification with " - " + subjectSuffix added to its subject and lead before its text.
    void sendComposed(const QString& subjectSuffix, const QString& lead, std::function<void()> done);
    void keep(const QString& summaryLine);
    void endSnoozeIfOver();
    void endSnooze();
    void armSnoozeTimer();
    QString changeText(SiteChange change, bool recovered) const;

    platform::Clock& m_clock;
    NotificationSink& m_sink;
    bool m_emailNotification = false;
    store::AlertSettings m_alerts;
    QString m_recordNumber;
    AlertPolicy m_policy;
    bool m_reportedDown = false; // the down notification of the outage under way was decided
    qint64 m_lastNoticeMs = 0;   // when it or its latest reminder was decided
    QDateTime m_snoozedSince;
    QDateTime m_snoozedUntil;
    QStringList m_kept; // what the snooze kept from being e-mailed, one line each
    QTimer m_snoozeTimer;
};

} // namespace sondrel::core
