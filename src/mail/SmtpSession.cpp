#include "mail/SmtpSession.h"

#include "platform/CodePage.h"

#include <QPointer>
#include <QRandomGenerator>

namespace sondrel::mail {

SmtpSession::SmtpSession(platform::TcpSocketFactory& sockets, platform::Clock& clock,
                         std::function<SmtpFields()> fields, QObject* parent)
    : QObject(parent)
    , m_sockets(sockets)
    , m_clock(clock)
    , m_fields(std::move(fields))
{
    m_replyTimer.setSingleShot(true);
    connect(&m_replyTimer, &QTimer::timeout, this, [this] {
        finish({Outcome::SocketError,
                QStringLiteral("Timed out: the server sent no reply within %1 seconds.")
                    .arg(QString::number(m_replyTimeoutMs / 1000.0)),
                kTimedOutError});
    });
}

SmtpSession::~SmtpSession()
{
    abort();
}

void SmtpSession::start()
{
    if (m_started)
        return;
    m_started = true;
    m_active = true;
    const SmtpEndpoint endpoint = parseSmtpHost(m_fields().host);
    // Failures found before connecting are reported from the event loop, like every other outcome.
    auto failSoon = [this](int number, const QString& description) {
        QTimer::singleShot(0, this, [this, number, description] {
            finish({Outcome::SocketError, description, number});
        });
    };
    if (!endpoint.portValid) {
        failSoon(
            kBadPortError,
            QStringLiteral("Invalid port \"%1\": the port must be a number from 1 to 65535.").arg(endpoint.portText));
        return;
    }
    m_socket = m_sockets.create();
    if (!m_socket) {
        failSoon(kNoSocketError, QStringLiteral("No TCP socket is available."));
        return;
    }
    connect(m_socket.get(), &platform::TcpSocket::dataArrived, this, &SmtpSession::onDataArrived);
    connect(m_socket.get(), &platform::TcpSocket::errorOccurred, this, &SmtpSession::onSocketError);
    m_step = Step::Greeting;
    m_replyTimer.start(m_replyTimeoutMs);
    m_socket->connectToHost(endpoint.host, endpoint.port);
}

void SmtpSession::abort()
{
    m_active = false;
    m_replyTimer.stop();
    if (m_socket) {
        m_socket->disconnect(this);
        m_socket->close();
    }
}

void SmtpSession::onDataArrived()
{
    if (!m_active)
        return;
    m_reader.append(m_socket->readAll());
    const QPointer<SmtpSession> alive(this);
    while (m_active) {
        const std::optional<QByteArray> reply = m_reader.takeReply();
        if (!reply) {
            if (m_reader.overflowed())
                finish({Outcome::ServerError, QStringLiteral("The server's reply was too long."), 0});
            return;
        }
        handleReply(*reply);
        if (!alive)
            return;
        emit replyHandled();
        if (!alive)
            return;
    }
}

void SmtpSession::onSocketError(int number, const QString& description)
{
    finish({Outcome::SocketError, description, number});
}

void SmtpSession::handleReply(const QByteArray& reply)
{
    const QByteArray code = replyCode(reply);
    bool accepted = isAcceptedCode(code);
    if (m_step == Step::RcptTo)
        accepted = acceptsRecipient(code);
    else if (m_step == Step::Data)
        accepted = invitesMessage(code);
    if (!accepted) {
        finish({m_step == Step::Quit ? Outcome::Sent : Outcome::ServerError, platform::fromCodePage(reply), 0});
        return;
    }
    if (m_step == Step::Quit) {
        finish({Outcome::ClosedAfterQuit, platform::fromCodePage(reply), 0});
        return;
    }
    const SmtpFields fields = m_fields();
    const SmtpMessage& message = fields.message;
    switch (m_step) {
    case Step::Greeting:
        send(heloCommand(message.senderAddress));
        m_step = Step::Helo;
        break;
    case Step::Helo:
        send(mailFromCommand(message.senderAddress));
        m_step = Step::MailFrom;
        break;
    case Step::MailFrom:
        send(rcptToCommand(message.recipientAddress));
        m_step = Step::RcptTo;
        break;
    case Step::RcptTo:
        send(dataCommand());
        m_step = Step::Data;
        break;
    case Step::Data: {
        const QDateTime now = m_clock.now();
        send(messageData(message, dateHeaderValue(now),
                         messageIdValue(message.senderAddress, now, QRandomGenerator::global()->generate64())));
        m_step = Step::Message;
        break;
    }
    case Step::Message:
    case Step::Quit:
        send(quitCommand());
        m_step = Step::Quit;
        break;
    }
}

void SmtpSession::send(const QByteArray& bytes)
{
    m_socket->write(bytes);
    m_replyTimer.start(m_replyTimeoutMs);
}

void SmtpSession::finish(const Result& result)
{
    if (!m_active)
        return;
    abort();
    emit finished(result);
}

} // namespace sondrel::mail
