#pragma once

#include "core/MailDelivery.h"
#include "core/Outbox.h"
#include "core/PasswordVault.h"

#include <QObject>
#include <QTimer>

#include <functional>
#include <list>
#include <optional>
#include <vector>

namespace sondrel::core {

// What one notification sends, read from data/email.dat when it is decided.
struct Notification {
    mail::SmtpFields fields;
    double lingerSeconds = 0; // the disconnect delay, never below 0
};

// The notification for the check numbered recordNumber: the stored settings (a missing sender name or subject
// gets its default), the connection security and login name, a certificate the user trusts for the server, and,
// when "Attach Log" is on, the run's lines 1 to that number. Nothing when the settings cannot be read. The
// password is not part of it: it is fetched when the notification is sent.
std::optional<Notification> composeNotification(const QString& programFolder, const QString& recordNumber);

// The run's notifications, each one sent to its own end (sent, refused, a socket error or the reply limit)
// whatever the run does meanwhile, one after the other in the order they were decided.
// Each notification is written to the outbox in data/outbox/ when it is queued, so that a program killed during
// an attempt sends it on its next start (twice rather than never), and removed once the server has taken it or
// refused it for good. One whose attempt fails for a reason that may pass (see deliveryVerdict) stays there and
// is tried again in the background, one at a time, after 1, 2, 4, 8, 16 and then every 30
// minutes, until it is sent or 24 hours have passed since its first attempt. The outbox outlives the program:
// a new queue on the same folder takes up what is waiting. Destroying the queue drops every delivery without
// callbacks; notifications not yet over are kept in the outbox, so a notification is sent at least once.
class NotificationQueue final : public QObject {
    Q_OBJECT
public:
    NotificationQueue(platform::Services services, QString programFolder, QObject* parent = nullptr);
    ~NotificationQueue() override;

    void setReplyTimeout(int milliseconds) { m_replyTimeoutMs = milliseconds; }
    // How often, at most, the wall clock is looked at while a retry waits: a clock that is set or a machine
    // that sleeps does not hold a retry up for longer than this (30 seconds unless changed).
    void setRetryCheckInterval(int milliseconds);

    // Reads the settings and the run's lines now and sends once the notifications before it are over. done
    // runs from the event loop when the run may go on: after the disconnect delay when the notification
    // could start at once, straight away when it waits for its turn or cannot be sent at all.
    void notify(const QString& recordNumber, std::function<void()> done);
    // Sends a notification already composed, in turn as notify does.
    void send(const Notification& notification, std::function<void()> done);

    // No notification is under way or waiting for its first attempt (the outbox aside).
    bool isIdle() const { return m_entries.empty(); }
    // Notifications in the outbox, waiting to be sent again.
    int waitingCount() const { return int(m_waiting.size()); }
    // The latest failure of a delivery attempt, as one line.
    const QString& lastError() const { return m_lastError; }

signals:
    // A notification's exchange is over, with its outcome (first attempts only).
    void delivered(const sondrel::mail::SmtpSession::Result& result);
    // The number of notifications waiting in the outbox or the latest failure changed.
    void outboxChanged(int waiting, const QString& lastError);
    // Something the user should know about the outbox: a notification dropped, a file set aside.
    void outboxNote(const QString& text);

private:
    struct Entry {
        std::unique_ptr<MailDelivery> delivery;
        std::shared_ptr<mail::SmtpFields> fields;
        std::function<void()> done;
        bool started = false;
        QDateTime firstAttempt;
        QString path; // its outbox file, written when it was queued
    };

    void startNext();
    void startWithPassword(MailDelivery* delivery, const std::shared_ptr<mail::SmtpFields>& fields);
    // Decides what becomes of a notification after an attempt: stored.entry.attempts counts that attempt and
    // stored.path is empty when it has no outbox file yet.
    void settle(Outbox::Stored stored, const MailDelivery::Result& result);
    void drop(const Outbox::Stored& stored, const QString& note);
    void keep(Outbox::Stored stored);
    void scheduleRetry();
    void retryIfDue();
    void tellOutbox();
    void retireIfOver(MailDelivery* delivery);
    std::list<Entry>::iterator find(MailDelivery* delivery);

    platform::Services m_services;
    QString m_programFolder;
    PasswordVault m_passwords;
    std::list<Entry> m_entries;
    int m_replyTimeoutMs = mail::SmtpSession::kReplyTimeoutMs;

    Outbox m_outbox;
    std::vector<Outbox::Stored> m_waiting;
    std::unique_ptr<MailDelivery> m_retry; // the retry under way, of the entry at m_retryPath
    QString m_retryPath;
    QTimer m_retryTimer;
    int m_retryCheckMs = 30000;
    QString m_lastError;
    int m_toldWaiting = 0;
    QString m_toldError;
};

} // namespace sondrel::core
