#include "core/DeliveryStarter.h"

#include "mail/SmtpProtocol.h"

#include <QPointer>

namespace sondrel::core {

MailDelivery::Result noAccessToken(const AccessTokens::Token& token)
{
    MailDelivery::Result refused(MailDelivery::Outcome::NoAccessToken, token.error);
    refused.signInAgain = token.signInAgain;
    return refused;
}

DeliveryStarter::DeliveryStarter(platform::Services services, PasswordVault& passwords, QString programFolder)
    : m_services(services)
    , m_passwords(passwords)
    , m_programFolder(std::move(programFolder))
    , m_tokens(services.oauth, services.clock, passwords)
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
    if (fields->login == mail::LoginMethod::OAuth2) {
        const mail::MailSecurity security =
            mail::MailSecurityFile(m_programFolder).load().value_or(mail::MailSecurity{});
        const AccessTokens::Login login{mail::parseSmtpHost(fields->host).host, fields->user, security.oauth};
        delivery->setTokenRenewal([this, login, fields](MailDelivery::Renewed renewed) {
            m_tokens.fetch(login, true, [fields, renewed = std::move(renewed)](const AccessTokens::Token& token) {
                fields->accessToken = token.accessToken;
                renewed(token.accessToken.isEmpty() ? std::optional(noAccessToken(token)) : std::nullopt);
            });
        });
        m_tokens.fetch(login, false, [alive, fields](const AccessTokens::Token& token) {
            fields->accessToken = token.accessToken;
            if (!alive)
                return;
            if (token.accessToken.isEmpty())
                alive->refuse(noAccessToken(token));
            else
                alive->start();
        });
        return;
    }
    m_passwords.load(mail::parseSmtpHost(fields->host).host, fields->user,
                     [alive, fields](const QString& password, PasswordPlace) {
                         fields->password = password;
                         if (alive)
                             alive->start();
                     });
}

} // namespace sondrel::core
