#include "core/OutboxRetrier.h"

#include "core/DeliveryRetry.h"

#include <QDir>

#include <algorithm>

namespace sondrel::core {

OutboxRetrier::OutboxRetrier(DeliveryStarter& starter, const QString& programFolder, QObject* parent)
    : QObject(parent)
    , m_starter(starter)
    , m_clock(starter.clock())
    , m_outbox(programFolder)
{
    m_retryTimer.setSingleShot(true);
    connect(&m_retryTimer, &QTimer::timeout, this, &OutboxRetrier::retryIfDue);

    // What an earlier run left waiting is taken up at once; its notes and count are told from the event loop,
    // once the observers are connected.
    Outbox::Contents contents = m_outbox.load();
    m_waiting = std::move(contents.entries);
    // A first attempt ahead of the clock (the clock was set back since) would keep its entry for ever: its 24 hours
    // count from now instead.
    const QDateTime now = m_clock.now();
    for (Outbox::Stored& stored : m_waiting) {
        if (stored.entry.firstAttempt > now)
            stored.entry.firstAttempt = now;
    }
    QTimer::singleShot(0, this, [this, notes = contents.notes] {
        for (const QString& note : notes)
            emit outboxNote(note);
        if (m_lastError.isEmpty() && !m_waiting.empty())
            m_lastError = m_waiting.back().entry.lastError;
        tellOutbox();
        scheduleRetry();
    });
}

OutboxRetrier::~OutboxRetrier()
{
    m_retryTimer.stop();
    m_retry.reset();
}

void OutboxRetrier::setRetryCheckInterval(int milliseconds)
{
    m_retryCheckMs = std::max(1, milliseconds);
    if (m_retryTimer.isActive())
        scheduleRetry();
}

QString OutboxRetrier::write(const mail::SmtpFields& fields)
{
    const OutboxEntry queued = outboxEntryFor(fields, m_clock.now());
    const QString path = m_outbox.newPath(queued.firstAttempt);
    QString error;
    if (m_outbox.save(path, queued, &error))
        return path;
    emit outboxNote(QStringLiteral("A notification could not be saved in %1 before it was sent: %2")
                        .arg(QDir::toNativeSeparators(path), error));
    return {};
}

void OutboxRetrier::keepForNextStart(const Outbox::Stored& stored)
{
    m_outbox.save(stored.path.isEmpty() ? m_outbox.newPath(stored.entry.firstAttempt) : stored.path, stored.entry);
}

void OutboxRetrier::settle(Outbox::Stored stored, const MailDelivery::Result& result)
{
    const DeliveryVerdict verdict = deliveryVerdict(result);
    if (verdict == DeliveryVerdict::Sent) {
        ++m_sentCount;
        const QString host = stored.entry.fields.host;
        drop(stored, QString());
        // The server takes messages again: what waits for it goes now, not minutes after the news that followed it.
        const QDateTime now = m_clock.now();
        for (Outbox::Stored& waiting : m_waiting) {
            if (waiting.entry.fields.host == host && waiting.entry.nextAttempt > now)
                waiting.entry.nextAttempt = now;
        }
        scheduleRetry();
        return;
    }
    ++m_failedCount;
    const QString error = deliveryErrorText(result);
    m_lastError = error;
    if (verdict == DeliveryVerdict::GiveUp) {
        drop(stored, QStringLiteral("A notification could not be sent and will not be tried again: %1").arg(error));
        return;
    }
    const QDateTime now = m_clock.now();
    if (!stored.entry.firstAttempt.isValid())
        stored.entry.firstAttempt = now;
    stored.entry.lastError = error;
    stored.entry.nextAttempt = now.addSecs(qint64(retryDelayMinutes(stored.entry.attempts)) * 60);
    if (stored.entry.firstAttempt.secsTo(stored.entry.nextAttempt) > kRetryWindowSeconds) {
        dropExpired(stored, error);
        return;
    }
    keep(std::move(stored));
}

// Takes a notification out of the outbox for good; note, when given, tells the user why.
void OutboxRetrier::drop(const Outbox::Stored& stored, const QString& note)
{
    if (!stored.path.isEmpty()) {
        QString error;
        if (!m_outbox.remove(stored.path, &error))
            emit outboxNote(
                QStringLiteral("%1 could not be removed: %2").arg(QDir::toNativeSeparators(stored.path), error));
        std::erase_if(m_waiting, [&](const Outbox::Stored& waiting) { return waiting.path == stored.path; });
    }
    if (!note.isEmpty())
        emit outboxNote(note);
    tellOutbox();
}

void OutboxRetrier::dropExpired(const Outbox::Stored& stored, const QString& error)
{
    drop(stored, QStringLiteral("A notification could not be sent within 24 hours and has been dropped; last error: %1")
                     .arg(error));
}

void OutboxRetrier::keep(Outbox::Stored stored)
{
    if (stored.path.isEmpty())
        stored.path = m_outbox.newPath(stored.entry.firstAttempt);
    QString error;
    // Should the disk refuse, the notification is still retried while the program runs.
    if (!m_outbox.save(stored.path, stored.entry, &error))
        emit outboxNote(QStringLiteral("A notification waiting to be sent could not be saved in %1: %2")
                            .arg(QDir::toNativeSeparators(stored.path), error));
    const auto known = std::find_if(m_waiting.begin(), m_waiting.end(),
                                    [&](const Outbox::Stored& waiting) { return waiting.path == stored.path; });
    if (known != m_waiting.end())
        *known = std::move(stored);
    else
        m_waiting.push_back(std::move(stored));
    tellOutbox();
    scheduleRetry();
}

// Waits for the earliest retry that is due, looking at the wall clock at least every check interval.
void OutboxRetrier::scheduleRetry()
{
    if (m_retry || m_waiting.empty()) {
        m_retryTimer.stop();
        return;
    }
    const auto earliest = std::min_element(m_waiting.begin(), m_waiting.end(), [](const auto& a, const auto& b) {
        return a.entry.nextAttempt < b.entry.nextAttempt;
    });
    const qint64 untilDue = m_clock.now().msecsTo(earliest->entry.nextAttempt);
    m_retryTimer.start(int(std::clamp<qint64>(untilDue, 0, m_retryCheckMs)));
}

void OutboxRetrier::retryIfDue()
{
    if (m_retry || m_waiting.empty())
        return;
    const QDateTime now = m_clock.now();
    // A retry scheduled further ahead than the longest delay means the clock was set back: it is due now.
    const qint64 longestWaitMs = qint64(retryDelayMinutes(1000)) * 60 * 1000;
    const auto isDue = [&](const Outbox::Stored& stored) {
        const qint64 untilDue = now.msecsTo(stored.entry.nextAttempt);
        return untilDue <= 0 || untilDue > longestWaitMs;
    };
    auto next = m_waiting.end();
    for (auto it = m_waiting.begin(); it != m_waiting.end(); ++it) {
        if (isDue(*it) && (next == m_waiting.end() || it->entry.nextAttempt < next->entry.nextAttempt))
            next = it;
    }
    if (next == m_waiting.end()) {
        scheduleRetry();
        return;
    }
    // One left waiting while the program was closed may have outlived its chances.
    if (next->entry.firstAttempt.secsTo(now) > kRetryWindowSeconds) {
        const Outbox::Stored expired = *next;
        dropExpired(expired, expired.entry.lastError);
        scheduleRetry();
        return;
    }

    auto fields = std::make_shared<mail::SmtpFields>(next->entry.fields);
    m_retry = m_starter.create(fields, 0);
    m_retryPath = next->path;
    connect(m_retry.get(), &MailDelivery::exchangeEnded, this, &OutboxRetrier::retried);
    m_starter.start(m_retry.get(), fields);
}

void OutboxRetrier::retried(const MailDelivery::Result& result)
{
    // The delivery is in the middle of emitting: it is destroyed from the event loop.
    MailDelivery* done = m_retry.release();
    done->setParent(this);
    done->deleteLater();
    const auto stored = std::find_if(m_waiting.begin(), m_waiting.end(),
                                     [this](const Outbox::Stored& waiting) { return waiting.path == m_retryPath; });
    m_retryPath.clear();
    if (stored != m_waiting.end()) {
        Outbox::Stored attempted = *stored;
        attempted.entry.attempts = std::min(attempted.entry.attempts, kMaxDeliveryAttempts - 1) + 1;
        settle(std::move(attempted), result);
    }
    scheduleRetry();
}

void OutboxRetrier::tellOutbox()
{
    const int waiting = waitingCount();
    if (waiting == m_toldWaiting && m_lastError == m_toldError)
        return;
    m_toldWaiting = waiting;
    m_toldError = m_lastError;
    emit outboxChanged(waiting, m_lastError);
}

} // namespace sondrel::core
