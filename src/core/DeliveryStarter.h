#pragma once

#include "core/MailDelivery.h"
#include "core/PasswordVault.h"

#include <memory>

namespace sondrel::core {

// Sets up every delivery of the notification services alike: the same reply time-out, and the login password
// read from the vault when each attempt starts, from wherever the e-mail window kept it.
class DeliveryStarter {
public:
    DeliveryStarter(platform::Services services, PasswordVault& passwords);

    void setReplyTimeout(int milliseconds) { m_replyTimeoutMs = milliseconds; }

    // A delivery of *fields that keeps its attempt open for lingerSeconds after the last reply.
    std::unique_ptr<MailDelivery> create(const std::shared_ptr<mail::SmtpFields>& fields, double lingerSeconds) const;
    // Starts it once the password is at hand; fields receives the password.
    void start(MailDelivery* delivery, const std::shared_ptr<mail::SmtpFields>& fields);

    platform::Clock& clock() const { return m_services.clock; }

private:
    platform::Services m_services;
    PasswordVault& m_passwords;
    int m_replyTimeoutMs = mail::SmtpSession::kReplyTimeoutMs;
};

} // namespace sondrel::core
