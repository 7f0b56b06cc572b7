#pragma once

#include "mail/SmtpSession.h"
#include "platform/Services.h"

#include <QObject>
#include <QTimer>

#include <functional>
#include <memory>
#include <optional>

namespace sondrel::core {

// One e-mail sent over SMTP: makes sure of the connection, runs one exchange and keeps the attempt open for
// the disconnect delay after the last reply, so that a dial-up line is not hung up under the server's feet.
// The test e-mail of the e-mail window and every notification of a run use it. Destroying it closes the
// socket and emits nothing more.
class MailDelivery final : public QObject {
    Q_OBJECT
public:
    // The outcome of the exchange, as the session tells it, or NoConnection when none could begin.
    using Outcome = mail::SmtpSession::Outcome;
    using Result = mail::SmtpSession::Result;

    // fields is read each time a command is built; lingerSeconds each time a reply restarts the linger.
    MailDelivery(platform::Services services, std::function<mail::SmtpFields()> fields,
                 std::function<double()> lingerSeconds, QObject* parent = nullptr);
    ~MailDelivery() override;

    // How long the exchange waits for each reply (60 seconds unless changed).
    void setReplyTimeout(int milliseconds) { m_replyTimeoutMs = milliseconds; }

    // Fetches a fresh access token after the server refused the one the fields carried; calls renewed once, from
    // the event loop, with nothing when the fields now carry a new token, else with the outcome that ends the
    // attempt (NoAccessToken and why).
    using Renewed = std::function<void(const std::optional<Result>& refusal)>;
    using TokenRenewal = std::function<void(Renewed renewed)>;
    // A server that refuses an OAuth2 access token gets one more exchange with a renewed token, once.
    void setTokenRenewal(TokenRenewal renewal) { m_renewal = std::move(renewal); }

    // Begins the attempt; a delivery runs once. Every outcome is reported from the event loop. False when
    // there is no connection to send over.
    bool start();
    // Ends the attempt before any exchange began, with result (such as NoAccessToken), from the event loop.
    void refuse(const Result& result);

    bool exchangeOver() const { return m_exchangeOver; }
    bool attemptOver() const { return m_attemptOver; }

signals:
    // The exchange is over (or never began for want of a connection); emitted once.
    void exchangeEnded(const sondrel::mail::SmtpSession::Result& result);
    // The disconnect delay has passed after the last reply, or the exchange failed or ended before any reply could
    // be read; emitted once, however the exchange ended. The receiver
    // may destroy the delivery.
    void attemptEnded();

private:
    void startSession();
    void onSessionFinished(const mail::SmtpSession::Result& result);
    void renewToken();
    void restartLinger();
    void endAttemptSoon();
    void endExchange(const Result& result);

    platform::Services m_services;
    std::function<mail::SmtpFields()> m_fields;
    std::function<double()> m_lingerSeconds;
    std::unique_ptr<mail::SmtpSession> m_session;
    TokenRenewal m_renewal;
    bool m_renewing = false; // a refused token is being renewed: the attempt waits without its linger
    QTimer m_linger;
    int m_replyTimeoutMs = mail::SmtpSession::kReplyTimeoutMs;
    bool m_started = false;
    bool m_exchangeOver = false;
    bool m_attemptOver = false;
    bool m_replyHandled = false; // the session has dealt with at least one reply, so the linger runs
};

} // namespace sondrel::core
