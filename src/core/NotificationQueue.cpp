#include "core/NotificationQueue.h"

#include "core/DeliveryRetry.h"
#include "mail/EmailSettings.h"
#include "mail/MailSecurity.h"
#include "mail/NotificationMessage.h"
#include "mail/TrustedCertificates.h"
#include "store/LogFiles.h"

#include <QDir>
#include <QPointer>
#include <QTimer>

#include <algorithm>
#include <utility>

namespace sondrel::core {

std::optional<Notification> composeNotification(const QString& programFolder, const QString& recordNumber)
{
    const std::optional<mail::EmailSettings> settings = mail::EmailSettingsFile(programFolder).load();
    if (!settings)
        return std::nullopt;
    Notification notification;
    mail::SmtpFields& fields = notification.fields;
    fields.host = settings->SmtpHost;
    fields.message.senderName = settings->SenderName.isEmpty() ? QStringLiteral("Ravelin") : settings->SenderName;
    fields.message.senderAddress = settings->SenderAddress;
    fields.message.recipientName = settings->RecipientName;
    fields.message.recipientAddress = settings->RecipientAddress;
    fields.message.subject = settings->Subject.isEmpty() ? QStringLiteral("Ravelin Notification") : settings->Subject;
    if (settings->AttachLog != 0) {
        const QStringList lines = store::readRecordLines(programFolder, mail::attachedRecordCount(recordNumber));
        fields.message.text = mail::notificationText(settings->MessageBody, lines);
    } else {
        fields.message.text = settings->MessageBody;
    }
    notification.lingerSeconds = std::max(0, int(settings->DisconnectDelay));
    const mail::MailSecurity security = mail::MailSecurityFile(programFolder).load().value_or(mail::MailSecurity{});
    fields.security = security.security;
    fields.user = security.user;
    const mail::SmtpEndpoint endpoint = mail::parseSmtpHost(fields.host);
    const quint16 port = endpoint.portText.isEmpty() ? mail::defaultPort(fields.security) : endpoint.port;
    fields.trustedCertificate = mail::TrustedCertificates(programFolder).certificateFor(endpoint.host, port);
    return notification;
}

NotificationQueue::NotificationQueue(platform::Services services, QString programFolder, QObject* parent)
    : QObject(parent)
    , m_services(services)
    , m_programFolder(std::move(programFolder))
    , m_passwords(services.secrets, m_programFolder)
    , m_outbox(m_programFolder)
{
    m_retryTimer.setSingleShot(true);
    connect(&m_retryTimer, &QTimer::timeout, this, &NotificationQueue::retryIfDue);

    // What an earlier run left waiting is taken up at once; its notes and count are told from the event loop,
    // once the observers are connected.
    Outbox::Contents contents = m_outbox.load();
    m_waiting = std::move(contents.entries);
    // A first attempt ahead of the clock (the clock was set back since) would keep its entry for ever: its 24 hours
    // count from now instead.
    const QDateTime now = m_services.clock.now();
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

NotificationQueue::~NotificationQueue()
{
    m_retryTimer.stop();
    m_retry.reset();
    // A notification whose exchange is not over may or may not have reached the server; it is kept, since an
    // alert told twice does less harm than one lost. One still waiting for its turn was never tried.
    const QDateTime now = m_services.clock.now();
    for (const Entry& entry : m_entries) {
        if (entry.started && entry.delivery->exchangeOver())
            continue;
        OutboxEntry kept;
        kept.fields = *entry.fields;
        kept.fields.password.clear();
        kept.firstAttempt = entry.firstAttempt.isValid() ? entry.firstAttempt : now;
        kept.nextAttempt = now;
        kept.attempts = entry.started ? 1 : 0;
        kept.lastError = entry.started ? QStringLiteral("The program ended during the attempt") : QString();
        m_outbox.save(entry.path.isEmpty() ? m_outbox.newPath(kept.firstAttempt) : entry.path, kept);
    }
    m_entries.clear();
}

void NotificationQueue::setRetryCheckInterval(int milliseconds)
{
    m_retryCheckMs = std::max(1, milliseconds);
    if (m_retryTimer.isActive())
        scheduleRetry();
}

void NotificationQueue::notify(const QString& recordNumber, std::function<void()> done)
{
    const std::optional<Notification> notification = composeNotification(m_programFolder, recordNumber);
    if (!notification) {
        // Without its settings a notification has nowhere to go.
        QTimer::singleShot(0, this, std::move(done));
        return;
    }
    send(*notification, std::move(done));
}

void NotificationQueue::send(const Notification& notification, std::function<void()> done)
{
    auto fields = std::make_shared<mail::SmtpFields>(notification.fields);
    auto delivery = std::make_unique<MailDelivery>(
        m_services, [fields] { return *fields; }, [seconds = notification.lingerSeconds] { return seconds; });
    delivery->setReplyTimeout(m_replyTimeoutMs);
    MailDelivery* raw = delivery.get();
    connect(raw, &MailDelivery::exchangeEnded, this, [this, raw](const MailDelivery::Result& result) {
        emit delivered(result);
        if (const auto entry = find(raw); entry != m_entries.end()) {
            OutboxEntry attempted;
            attempted.fields = *entry->fields;
            attempted.fields.password.clear();
            attempted.firstAttempt = entry->firstAttempt;
            attempted.attempts = 1;
            settle({entry->path, std::move(attempted)}, result);
        }
        retireIfOver(raw);
        startNext();
    });
    connect(raw, &MailDelivery::attemptEnded, this, [this, raw] {
        const auto entry = find(raw);
        std::function<void()> runGoesOn = entry != m_entries.end() ? std::exchange(entry->done, nullptr) : nullptr;
        retireIfOver(raw);
        if (runGoesOn)
            runGoesOn();
    });

    // Written before its first attempt, so that a program that dies meanwhile does not lose it.
    OutboxEntry queued;
    queued.fields = notification.fields;
    queued.fields.password.clear();
    queued.firstAttempt = queued.nextAttempt = m_services.clock.now();
    QString path = m_outbox.newPath(queued.firstAttempt);
    QString error;
    if (!m_outbox.save(path, queued, &error)) {
        emit outboxNote(QStringLiteral("A notification could not be saved in %1 before it was sent: %2")
                            .arg(QDir::toNativeSeparators(path), error));
        path.clear();
    }

    const bool busy = std::any_of(m_entries.begin(), m_entries.end(),
                                  [](const Entry& entry) { return entry.started && !entry.delivery->exchangeOver(); });
    if (busy) {
        m_entries.push_back({std::move(delivery), fields, nullptr, false, {}, path});
        QTimer::singleShot(0, this, std::move(done));
        return;
    }
    m_entries.push_back({std::move(delivery), fields, std::move(done), false, {}, path});
    startNext();
}

void NotificationQueue::startNext()
{
    for (Entry& entry : m_entries) {
        if (entry.started && !entry.delivery->exchangeOver())
            return;
    }
    for (Entry& entry : m_entries) {
        if (entry.started)
            continue;
        entry.started = true;
        entry.firstAttempt = m_services.clock.now();
        startWithPassword(entry.delivery.get(), entry.fields);
        return;
    }
}

void NotificationQueue::startWithPassword(MailDelivery* delivery, const std::shared_ptr<mail::SmtpFields>& fields)
{
    if (fields->user.trimmed().isEmpty()) {
        delivery->start();
        return;
    }
    // The password is read when each attempt starts, from wherever the e-mail window kept it.
    const QPointer<MailDelivery> alive = delivery;
    m_passwords.load(mail::parseSmtpHost(fields->host).host, fields->user,
                     [alive, fields](const QString& password, PasswordPlace) {
                         fields->password = password;
                         if (alive)
                             alive->start();
                     });
}

void NotificationQueue::settle(Outbox::Stored stored, const MailDelivery::Result& result)
{
    const DeliveryVerdict verdict = deliveryVerdict(result);
    if (verdict == DeliveryVerdict::Sent) {
        const QString host = stored.entry.fields.host;
        drop(stored, QString());
        // The server takes messages again: what waits for it goes now, not minutes after the news that followed it.
        const QDateTime now = m_services.clock.now();
        for (Outbox::Stored& waiting : m_waiting) {
            if (waiting.entry.fields.host == host && waiting.entry.nextAttempt > now)
                waiting.entry.nextAttempt = now;
        }
        scheduleRetry();
        return;
    }
    const QString error = deliveryErrorText(result);
    m_lastError = error;
    if (verdict == DeliveryVerdict::GiveUp) {
        drop(stored, QStringLiteral("A notification could not be sent and will not be tried again: %1").arg(error));
        return;
    }
    const QDateTime now = m_services.clock.now();
    if (!stored.entry.firstAttempt.isValid())
        stored.entry.firstAttempt = now;
    stored.entry.lastError = error;
    stored.entry.nextAttempt = now.addSecs(qint64(retryDelayMinutes(stored.entry.attempts)) * 60);
    if (stored.entry.firstAttempt.secsTo(stored.entry.nextAttempt) > kRetryWindowSeconds) {
        drop(stored, QStringLiteral("A notification could not be sent within 24 hours and has been dropped; last "
                                    "error: %1")
                         .arg(error));
        return;
    }
    keep(std::move(stored));
}

// Takes a notification out of the outbox for good; note, when given, tells the user why.
void NotificationQueue::drop(const Outbox::Stored& stored, const QString& note)
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

void NotificationQueue::keep(Outbox::Stored stored)
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
void NotificationQueue::scheduleRetry()
{
    if (m_retry || m_waiting.empty()) {
        m_retryTimer.stop();
        return;
    }
    const auto earliest = std::min_element(m_waiting.begin(), m_waiting.end(), [](const auto& a, const auto& b) {
        return a.entry.nextAttempt < b.entry.nextAttempt;
    });
    const qint64 untilDue = m_services.clock.now().msecsTo(earliest->entry.nextAttempt);
    m_retryTimer.start(int(std::clamp<qint64>(untilDue, 0, m_retryCheckMs)));
}

void NotificationQueue::retryIfDue()
{
    if (m_retry || m_waiting.empty())
        return;
    const QDateTime now = m_services.clock.now();
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
        drop(expired, QStringLiteral("A notification could not be sent within 24 hours and has been dropped; last "
                                     "error: %1")
                          .arg(expired.entry.lastError));
        scheduleRetry();
        return;
    }

    auto fields = std::make_shared<mail::SmtpFields>(next->entry.fields);
    m_retry = std::make_unique<MailDelivery>(
        m_services, [fields] { return *fields; }, [] { return 0.0; });
    m_retry->setReplyTimeout(m_replyTimeoutMs);
    m_retryPath = next->path;
    connect(m_retry.get(), &MailDelivery::exchangeEnded, this, [this](const MailDelivery::Result& result) {
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
    });
    startWithPassword(m_retry.get(), fields);
}

void NotificationQueue::tellOutbox()
{
    const int waiting = waitingCount();
    if (waiting == m_toldWaiting && m_lastError == m_toldError)
        return;
    m_toldWaiting = waiting;
    m_toldError = m_lastError;
    emit outboxChanged(waiting, m_lastError);
}

std::list<NotificationQueue::Entry>::iterator NotificationQueue::find(MailDelivery* delivery)
{
    return std::find_if(m_entries.begin(), m_entries.end(),
                        [delivery](const Entry& entry) { return entry.delivery.get() == delivery; });
}

// A delivery whose exchange and attempt are both over leaves the queue. It may be in the middle of emitting,
// so it is destroyed from the event loop.
void NotificationQueue::retireIfOver(MailDelivery* delivery)
{
    const auto entry = find(delivery);
    if (entry == m_entries.end() || !delivery->exchangeOver() || !delivery->attemptOver())
        return;
    MailDelivery* retired = entry->delivery.release();
    retired->setParent(this); // destroyed with the queue should the event loop not come round again
    retired->deleteLater();
    m_entries.erase(entry);
}

} // namespace sondrel::core
