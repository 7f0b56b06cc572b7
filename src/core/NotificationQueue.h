#pragma once

#include "core/DeliveryStarter.h"
#include "core/FirstAttemptLane.h"
#include "core/NotificationComposer.h"
#include "core/OutboxRetrier.h"

#include <QObject>

#include <functional>
#include <memory>

namespace sondrel::core {

// The notifications of every run, each one sent to its own end (sent, refused, a socket error or the reply limit)
// whatever the runs do meanwhile: first attempts one after the other in the order they were decided, and the
// outbox's retries beside them. Each notification is written to the outbox when it is queued, so that a program
// killed during an attempt sends it on its next start (twice rather than never). Destroying the queue drops every
// delivery without callbacks; notifications not yet over are kept in the outbox, so each is sent at least once.
class NotificationQueue final : public QObject {
    Q_OBJECT
public:
    // The outbox is programFolder/data/outbox; passwords come from passwords, or from a vault of the queue's own
    // on programFolder.
    NotificationQueue(platform::Services services, QString programFolder, QObject* parent = nullptr);
    NotificationQueue(platform::Services services, QString programFolder, PasswordVault& passwords,
                      QObject* parent = nullptr);
    ~NotificationQueue() override;

    void setReplyTimeout(int milliseconds) { m_starter.setReplyTimeout(milliseconds); }
    // How often, at most, the wall clock is looked at while a retry waits: a clock that is set or a machine
    // that sleeps does not hold a retry up for longer than this (30 seconds unless changed).
    void setRetryCheckInterval(int milliseconds) { m_retrier.setRetryCheckInterval(milliseconds); }

    // Reads the notification for check recordNumber from the queue's folder now and sends it in turn (see send).
    void notify(const QString& recordNumber, std::function<void()> done);
    // Sends once the notifications before it are over. done runs from the event loop when the run may go on:
    // after the disconnect delay when the notification could start at once, straight away when it waits for its
    // turn.
    void send(const Notification& notification, std::function<void()> done);

    // Writes a notification to the outbox without sending it, so that a program that ends before it is sent sends
    // it at its next start; unpark removes it again. Empty when it could not be written.
    QString park(const mail::SmtpFields& fields) { return m_retrier.write(fields); }
    void unpark(const QString& path)
    {
        if (!path.isEmpty())
            m_retrier.discard(path);
    }

    // No notification is under way or waiting for its first attempt (the outbox aside).
    bool isIdle() const { return m_lane.isIdle(); }
    // Notifications in the outbox, waiting to be sent again.
    int waitingCount() const { return m_retrier.waitingCount(); }
    // Delivery attempts, first ones and retries, that the server took, and those that failed.
    quint64 sentCount() const { return m_retrier.sentCount(); }
    quint64 failedCount() const { return m_retrier.failedCount(); }
    // The latest failure of a delivery attempt, as one line.
    const QString& lastError() const { return m_retrier.lastError(); }

signals:
    // A notification's exchange is over, with its outcome (first attempts only).
    void delivered(const sondrel::mail::SmtpSession::Result& result);
    // The number of notifications waiting in the outbox or the latest failure changed.
    void outboxChanged(int waiting, const QString& lastError);
    // Something the user should know about the outbox: a notification dropped, a file set aside.
    void outboxNote(const QString& text);

private:
    NotificationQueue(platform::Services services, QString programFolder, std::unique_ptr<PasswordVault> own,
                      PasswordVault* shared, QObject* parent);

    platform::Clock& m_clock;
    QString m_programFolder;
    std::unique_ptr<PasswordVault> m_ownPasswords;
    DeliveryStarter m_starter;
    OutboxRetrier m_retrier;
    FirstAttemptLane m_lane;
};

} // namespace sondrel::core
