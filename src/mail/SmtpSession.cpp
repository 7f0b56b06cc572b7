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
    Winsock1 = m_sockets.create();
    if (!Winsock1) {
        failSoon(kNoSocketError, QStringLiteral("No TCP socket is available."));
        return;
    }
    connect(Winsock1.get(), &platform::TcpSocket::dataArrived, this, &SmtpSession::Winsock1_DataArrival);
    connect(Winsock1.get(), &platform::TcpSocket::errorOccurred, this, &SmtpSession::Winsock1_Error);
    SmtpState = 0;
    m_replyTimer.start(m_replyTimeoutMs);
    Winsock1->connectToHost(endpoint.host, endpoint.port);
}

void SmtpSession::abort()
{
    m_active = false;
    m_replyTimer.stop();
    if (Winsock1) {
        Winsock1->disconnect(this);
        Winsock1->close();
    }
}

void SmtpSession::Winsock1_DataArrival()
{
    if (!m_active)
        return;
    m_reader.append(Winsock1->readAll());
    const QPointer<SmtpSession> alive(this);
    while (m_active) {
        const std::optional<QByteArray> reply = m_reader.takeReply();
        if (!reply)
            return;
        handleReply(*reply);
        if (!alive)
            return;
        emit replyHandled();
        if (!alive)
            return;
    }
}

void SmtpSession::Winsock1_Error(int number, const QString& description)
{
    finish({Outcome::SocketError, description, number});
}

void SmtpSession::handleReply(const QByteArray& reply)
{
    if (!isAcceptedCode(replyCode(reply))) {
        finish({SmtpState == 6 ? Outcome::Sent : Outcome::ServerError, platform::fromCodePage(reply), 0});
        return;
    }
    if (SmtpState == 6) {
        finish({Outcome::ClosedAfterQuit, platform::fromCodePage(reply), 0});
        return;
    }
    const SmtpFields fields = m_fields();
    const SmtpMessage& message = fields.message;
    switch (SmtpState) {
    case 0:
        send(heloCommand(message.senderAddress));
        break;
    case 1:
        send(mailFromCommand(message.senderAddress));
        break;
    case 2:
        send(rcptToCommand(message.recipientAddress));
        break;
    case 3:
        send(dataCommand());
        break;
    case 4: {
        const QDateTime now = m_clock.now();
        send(messageData(message, dateHeaderValue(now),
                         messageIdValue(message.senderAddress, now, QRandomGenerator::global()->generate64())));
        break;
    }
    default:
        send(quitCommand());
        break;
    }
    ++SmtpState;
}

void SmtpSession::send(const QByteArray& bytes)
{
    Winsock1->write(bytes);
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
