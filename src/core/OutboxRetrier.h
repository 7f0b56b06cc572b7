#pragma once

#include "core/DeliveryStarter.h"
#include "core/Outbox.h"

#include <QObject>
#include <QTimer>

#include <memory>
#include <vector>

namespace sondrel::core {

// The outbox in data/outbox/ and its retries. A notification is written there when it is queued and removed once
// the server has taken it or refused it for good. One whose attempt fails for a reason that may pass (see
// deliveryVerdict) is tried again in the background, one at a time, after 1, 2, 4, 8, 16 and then every 30
// minutes, until it is sent or 24 hours have passed since its first attempt. What an earlier run left waiting is
// taken up at once.
class OutboxRetrier final : public QObject {
    Q_OBJECT
public:
    OutboxRetrier(DeliveryStarter& starter, const QString& programFolder, QObject* parent = nullptr);
    ~OutboxRetrier() override;

    // How often, at most, the wall clock is looked at while a retry waits (30 seconds unless changed).
    void setRetryCheckInterval(int milliseconds);

    // Writes a notification before its first attempt; its path, or empty (and told) when it could not be saved.
    QString write(const mail::SmtpFields& fields);
    // Decides what becomes of a notification after an attempt: stored.entry.attempts counts that attempt and
    // stored.path is empty when it has no outbox file yet.
    void settle(Outbox::Stored stored, const MailDelivery::Result& result);
    // Keeps a notification as it stands, for the program's next start.
    void keepForNextStart(const Outbox::Stored& stored);
    // Removes a file written by write() whose notification will not be sent as it is.
    void discard(const QString& path) { m_outbox.remove(path); }

    int waitingCount() const { return int(m_waiting.size()); }
    // Attempts, first ones and retries, that the server took, and those that failed, since the program started.
    quint64 sentCount() const { return m_sentCount; }
    quint64 failedCount() const { return m_failedCount; }
    const QString& lastError() const { return m_lastError; }

signals:
    void outboxChanged(int waiting, const QString& lastError);
    void outboxNote(const QString& text);

private:
    void drop(const Outbox::Stored& stored, const QString& note);
    void dropExpired(const Outbox::Stored& stored, const QString& error);
    void keep(Outbox::Stored stored);
    void scheduleRetry();
    void retryIfDue();
    void retried(const MailDelivery::Result& result);
    void tellOutbox();

    DeliveryStarter& m_starter;
    platform::Clock& m_clock;
    Outbox m_outbox;
    std::vector<Outbox::Stored> m_waiting;
    std::unique_ptr<MailDelivery> m_retry; // the retry under way, of the entry at m_retryPath
    QString m_retryPath;
    QTimer m_retryTimer;
    int m_retryCheckMs = 30000;
    QString m_lastError;
    int m_toldWaiting = 0;
    quint64 m_sentCount = 0;
    quint64 m_failedCount = 0;
    QString m_toldError;
};

} // namespace sondrel::core
