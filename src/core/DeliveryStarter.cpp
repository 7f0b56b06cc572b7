#include "core/DeliveryStarter.h"

#include "mail/SmtpProtocol.h"

#include <QPointer>

namespace sondrel::core {

namespace {

MailDelivery::Result noAccessToken(const AccessTokens::Token& token)
{
    MailDelivery::Result refused(MailDelivery::Outcome::NoAccessToken, token.error);
    refused.signInAgain = token.signInAgain;
    return refused;
}

} // namespace

void startWithAccessToken(AccessTokens& tokens, const AccessTokens::Login& login, MailDelivery* delivery,
                          std::function<void(const QString& accessToken)> receive)
{
    delivery->setTokenRenewal([&tokens, login, receive](MailDelivery::Renewed renewed) {
        tokens.fetch(login, true, [receive, renewed = std::move(renewed)](const AccessTokens::Token& token) {
            receive(token.accessToken);
            renewed(token.accessToken.isEmpty() ? std::optional(noAccessToken(token)) : std::nullopt);
        });
    });
    const QPointer<MailDelivery> alive = delivery;
    tokens.fetch(login, false, [alive, receive](const AccessTokens::Token& token) {
        receive(token.accessToken);
        if (!alive)
            return;
        if (token.accessToken.isEmpty())
            alive->refuse(noAccessToken(token));
        else
            alive->start();
    });
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
    if (fields->login == mail::LoginMethod::OAuth2) {
        const mail::MailSecurity security =
            mail::MailSecurityFile(m_programFolder).load().value_or(mail::MailSecurity{});
        const AccessTokens::Login login{mail::parseSmtpHost(fields->host).host, fields->user, security.oauth};
        startWithAccessToken(m_tokens, login, delivery,
                             [fields](const QString& accessToken) { fields->accessToken = accessToken; });
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
