#include "core/NotificationQueue.h"

#include "mail/EmailSettings.h"
#include "mail/MailSecurity.h"
#include "mail/NotificationMessage.h"
#include "mail/TrustedCertificates.h"
#include "store/LogFiles.h"

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
{
}

NotificationQueue::~NotificationQueue() = default;

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

    const bool busy = std::any_of(m_entries.begin(), m_entries.end(),
                                  [](const Entry& entry) { return entry.started && !entry.delivery->exchangeOver(); });
    if (busy) {
        m_entries.push_back({std::move(delivery), fields, nullptr, false});
        QTimer::singleShot(0, this, std::move(done));
        return;
    }
    m_entries.push_back({std::move(delivery), fields, std::move(done), false});
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
        if (entry.fields->user.trimmed().isEmpty()) {
            entry.delivery->start();
            return;
        }
        // The password is read when the notification is sent, from wherever the e-mail window kept it.
        const QPointer<MailDelivery> delivery = entry.delivery.get();
        m_passwords.load(mail::parseSmtpHost(entry.fields->host).host, entry.fields->user,
                         [delivery, fields = entry.fields](const QString& password, PasswordPlace) {
                             fields->password = password;
                             if (delivery)
                                 delivery->start();
                         });
        return;
    }
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
