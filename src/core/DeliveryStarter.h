#pragma once

#include "core/AccessTokens.h"
#include "core/MailDelivery.h"
#include "core/PasswordVault.h"

#include <memory>

namespace sondrel::core {

// Starts delivery once login's access token is at hand, handing each token to receive before the exchange that
// uses it; a token the server refuses is renewed once. Without a token the attempt ends as NoAccessToken.
void startWithAccessToken(AccessTokens& tokens, const AccessTokens::Login& login, MailDelivery* delivery,
                          std::function<void(const QString& accessToken)> receive);

// Sets up every delivery of the notification services alike: the same reply time-out, and the login password
// read from the vault when each attempt starts, from wherever the e-mail window kept it. An OAuth2 login gets
// its access token instead, with the OAuth2 settings of programFolder's security file as they stand then.
class DeliveryStarter {
public:
    DeliveryStarter(platform::Services services, PasswordVault& passwords, QString programFolder);

    void setReplyTimeout(int milliseconds) { m_replyTimeoutMs = milliseconds; }

    // A delivery of *fields that keeps its attempt open for lingerSeconds after the last reply.
    std::unique_ptr<MailDelivery> create(const std::shared_ptr<mail::SmtpFields>& fields, double lingerSeconds) const;
    // Starts it once the password or access token is at hand; fields receives it. A login without a token ends
    // the attempt as NoAccessToken.
    void start(MailDelivery* delivery, const std::shared_ptr<mail::SmtpFields>& fields);

    platform::Clock& clock() const { return m_services.clock; }

private:
    platform::Services m_services;
    PasswordVault& m_passwords;
    QString m_programFolder;
    AccessTokens m_tokens;
    int m_replyTimeoutMs = mail::SmtpSession::kReplyTimeoutMs;
};

} // namespace sondrel::core
