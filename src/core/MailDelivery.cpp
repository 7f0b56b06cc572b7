#include "core/MailDelivery.h"

#include "core/ConnectionProcedures.h"

#include <QPointer>

namespace sondrel::core {

MailDelivery::MailDelivery(platform::Services services, std::function<mail::SmtpFields()> fields,
                           std::function<double()> lingerSeconds, QObject* parent)
    : QObject(parent)
    , m_services(services)
    , m_fields(std::move(fields))
    , m_lingerSeconds(std::move(lingerSeconds))
{
    m_linger.setSingleShot(true);
    connect(&m_linger, &QTimer::timeout, this, [this] {
        if (m_attemptOver)
            return;
        m_attemptOver = true;
        emit attemptEnded();
    });
}

MailDelivery::~MailDelivery()
{
    m_linger.stop();
    if (m_session) {
        m_session->disconnect(this);
        m_session->abort();
    }
}

bool MailDelivery::start()
{
    if (m_started)
        return false;
    m_started = true;
    if (!openinternetconnection(m_services.connection)) {
        QTimer::singleShot(0, this, [this] { endExchange({Outcome::NoConnection, {}, 0}); });
        endAttemptSoon();
        return false;
    }
    startSession();
    return true;
}

void MailDelivery::refuse(const Result& result)
{
    if (m_started)
        return;
    m_started = true;
    QTimer::singleShot(0, this, [this, result] { endExchange(result); });
    endAttemptSoon();
}

void MailDelivery::startSession()
{
    m_session = std::make_unique<mail::SmtpSession>(m_services.tcp, m_services.clock, m_fields);
    m_session->setReplyTimeout(m_replyTimeoutMs);
    connect(m_session.get(), &mail::SmtpSession::finished, this, &MailDelivery::onSessionFinished);
    connect(m_session.get(), &mail::SmtpSession::replyHandled, this, &MailDelivery::restartLinger);
    m_session->start();
}

// The refused session is over; the next one starts on a fresh connection once the token is renewed, or the
// refusal stands when no new token could be had.
void MailDelivery::renewToken()
{
    m_renewing = true;
    m_linger.stop();
    TokenRenewal renewal = std::move(m_renewal);
    const QPointer<MailDelivery> alive(this);
    renewal([this, alive](const std::optional<Result>& refusal) {
        if (!alive)
            return;
        m_renewing = false;
        if (!refusal) {
            // The refused session may still be unwinding from its last signal: it goes from the event loop.
            QTimer::singleShot(0, this, [this, old = std::shared_ptr<mail::SmtpSession>(m_session.release())] {
                old->disconnect(this);
                startSession();
            });
            return;
        }
        endAttemptSoon();
        endExchange(*refusal);
    });
}

void MailDelivery::onSessionFinished(const Result& result)
{
    if (result.tokenRejected && m_renewal) {
        renewToken();
        return;
    }
    // A failed socket or a refused certificate gets no further reply: the attempt ends without waiting the delay.
    if (result.outcome == Outcome::SocketError || result.outcome == Outcome::CertificateRejected) {
        endAttemptSoon();
    } else {
        // The reply that ends the exchange is told handled just after this signal. An exchange that ends with no
        // reply handled at all (a greeting too long to read) has no delay to wait for: its attempt ends at once.
        QTimer::singleShot(0, this, [this] {
            if (!m_replyHandled)
                endAttemptSoon();
        });
    }
    endExchange(result);
}

void MailDelivery::endExchange(const Result& result)
{
    if (m_exchangeOver)
        return;
    m_exchangeOver = true;
    emit exchangeEnded(result);
}

void MailDelivery::restartLinger()
{
    m_replyHandled = true;
    if (m_attemptOver || m_renewing)
        return;
    const double seconds = qBound(0.0, m_lingerSeconds ? m_lingerSeconds() : 0.0, 32767.0);
    m_linger.start(qRound(seconds * 1000));
}

void MailDelivery::endAttemptSoon()
{
    if (!m_attemptOver)
        m_linger.start(0);
}

} // namespace sondrel::core
