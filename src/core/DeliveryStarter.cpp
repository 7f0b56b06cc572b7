#include "core/DeliveryStarter.h"

#include "mail/SmtpProtocol.h"

#include <QPointer>

namespace sondrel::core {

DeliveryStarter::DeliveryStarter(platform::Services services, PasswordVault& passwords)
    : m_services(services)
    , m_passwords(passwords)
{
}

std::unique_ptr<MailDelivery> DeliveryStarter::create(const std::shared_ptr<mail::SmtpFields>& fields,
                                                      double lingerSeconds) const
{
    auto delivery = std::make_unique<MailDelivery>(
        m_services, [fields] { return *fields; }, [lingerSeconds] { return lingerSeconds; });
    delivery->setReplyTimeout(m_replyTimeoutMs);
    return delivery;
}

void DeliveryStarter::start(MailDelivery* delivery, const std::shared_ptr<mail::SmtpFields>& fields)
{
    if (fields->user.trimmed().isEmpty()) {
        delivery->start();
        return;
    }
    const QPointer<MailDelivery> alive = delivery;
    m_passwords.load(mail::parseSmtpHost(fields->host).host, fields->user,
                     [alive, fields](const QString& password, PasswordPlace) {
                         fields->password = password;
                         if (alive)
                             alive->start();
                     });
}

} // namespace sondrel::core
