#include "mail/SmtpSession.h"

#include "platform/CodePage.h"
#include "store/FixedText.h"

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
    connect(m_socket.get(), &platform::TcpSocket::certificateRejected, this,
            [this](const QString& description, const QByteArray& certificate) {
                Result result(Outcome::CertificateRejected, description, 0, {}, certificate);
                finish(result);
            });
    connect(m_socket.get(), &platform::TcpSocket::encrypted, this, [this] {
        // After STARTTLS the server has forgotten everything it was told: greet it again.
        if (m_active && m_step == Step::Handshake) {
            send(ehloCommand(ehloDomain()));
            m_step = Step::Ehlo;
        }
    });
    const SmtpFields fields = m_fields();
    m_extended = fields.security != SmtpSecurity::None || !store::trimSpaces(fields.user).isEmpty();
    m_peerName = endpoint.host;
    m_port = endpoint.portText.isEmpty() ? defaultPort(fields.security) : endpoint.port;
    m_step = Step::Greeting;
    m_replyTimer.start(m_replyTimeoutMs);
    if (fields.security == SmtpSecurity::ImplicitTls)
        m_socket->connectToHostEncrypted(endpoint.host, m_port, tlsOptions(fields));
    else
        m_socket->connectToHost(endpoint.host, m_port);
}

platform::TlsOptions SmtpSession::tlsOptions(const SmtpFields& fields) const
{
    return {m_peerName, fields.trustedCertificate};
}

// The EHLO argument: the machine's fully qualified name, else the address literal of our end of the connection.
QString SmtpSession::ehloDomain() const
{
    const QString name = platform::fullyQualifiedHostName();
    return name.isEmpty() ? m_socket->localAddressLiteral() : name;
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
    const SmtpFields fields = m_fields();
    if (m_extended) {
        handleExtendedReply(code, reply, fields);
        return;
    }
    if (m_step == Step::RcptTo) {
        recipientAnswered(acceptsRecipient(code), reply);
        sendNextRecipient();
        return;
    }
    bool accepted = isAcceptedCode(code);
    if (m_step == Step::Data)
        accepted = invitesMessage(code);
    if (!accepted) {
        finish(
            {m_step == Step::Quit ? Outcome::Sent : Outcome::ServerError, platform::fromCodePage(reply), 0, m_refused});
        return;
    }
    switch (m_step) {
    case Step::Greeting:
        send(heloCommand(fields.message.senderAddress));
        m_step = Step::Helo;
        break;
    case Step::Helo:
        sendMailFrom(fields);
        break;
    case Step::MailFrom:
        m_recipients = splitRecipients(fields.message.recipientAddress);
        if (m_recipients.isEmpty())
            m_recipients = {QString()};
        m_nextRecipient = 0;
        sendNextRecipient();
        break;
    case Step::Data:
        sendMessage(fields);
        break;
    case Step::Quit:
        finish({Outcome::ClosedAfterQuit, platform::fromCodePage(reply), 0, m_refused});
        break;
    default:
        send(quitCommand());
        m_step = Step::Quit;
        break;
    }
}

// Each step of the dialogue with EHLO expects its own success code.
void SmtpSession::handleExtendedReply(const QByteArray& code, const QByteArray& reply, const SmtpFields& fields)
{
    const auto serverError = [&] { finish({Outcome::ServerError, platform::fromCodePage(reply), 0, m_refused}); };
    switch (m_step) {
    case Step::Greeting:
        if (code != "220")
            return serverError();
        send(ehloCommand(ehloDomain()));
        m_step = Step::Ehlo;
        return;
    case Step::Ehlo:
        if (code != "250")
            return serverError();
        m_extensions = parseEhloReply(reply);
        return afterEhlo(fields);
    case Step::StartTls:
        if (code != "220")
            return serverError();
        m_step = Step::Handshake;
        m_socket->startEncryption(tlsOptions(fields));
        return;
    case Step::AuthPlain:
    case Step::AuthLoginDone:
        if (code != "235")
            return serverError();
        return sendMailFrom(fields);
    case Step::AuthOAuth:
        if (code == "235")
            return sendMailFrom(fields);
        if (code == "334") {
            m_oauthChallenge = readOAuthChallenge(reply);
            send(m_oauthBearer ? oauthBearerErrorAnswer() : xoauth2ErrorAnswer());
            m_step = Step::AuthOAuthRefused;
            return;
        }
        {
            Result result(Outcome::ServerError, platform::fromCodePage(reply), 0, m_refused);
            result.tokenRejected = code == "535";
            return finish(result);
        }
    case Step::AuthOAuthRefused: {
        Result result(Outcome::ServerError, m_oauthChallenge.reason + u'\n' + platform::fromCodePage(reply), 0,
                      m_refused);
        result.tokenRejected = m_oauthChallenge.tokenRejected;
        return finish(result);
    }
    case Step::AuthLoginUser:
        if (code != "334")
            return serverError();
        send(base64Line(fields.user));
        m_step = Step::AuthLoginPassword;
        return;
    case Step::AuthLoginPassword:
        if (code != "334")
            return serverError();
        send(base64Line(fields.password));
        m_step = Step::AuthLoginDone;
        return;
    case Step::MailFrom:
        if (code != "250")
            return serverError();
        m_recipients = splitRecipients(fields.message.recipientAddress);
        if (m_recipients.isEmpty())
            m_recipients = {QString()};
        m_nextRecipient = 0;
        return sendNextRecipient();
    case Step::RcptTo:
        recipientAnswered(code == "250" || code == "251", reply);
        return sendNextRecipient();
    case Step::Data:
        if (!invitesMessage(code))
            return serverError();
        return sendMessage(fields);
    case Step::Message:
        if (code != "250")
            return serverError();
        send(quitCommand());
        m_step = Step::Quit;
        return;
    case Step::Quit:
        // The message was accepted before QUIT; whatever the farewell says, it is sent.
        finish({Outcome::Sent, platform::fromCodePage(reply), 0, m_refused});
        return;
    case Step::Helo:
    case Step::Handshake:
        return serverError();
    }
}

void SmtpSession::afterEhlo(const SmtpFields& fields)
{
    if (fields.security == SmtpSecurity::StartTls && !m_socket->isEncrypted()) {
        if (!m_extensions.startTls)
            return fail(QStringLiteral("The server does not offer STARTTLS, so the connection cannot be "
                                       "encrypted. Choose \"SSL/TLS\" or \"None\", or another server."));
        send(startTlsCommand());
        m_step = Step::StartTls;
        return;
    }
    if (store::trimSpaces(fields.user).isEmpty())
        return sendMailFrom(fields);
    if (fields.login == LoginMethod::OAuth2)
        return logInWithToken(fields);
    if (!m_socket->isEncrypted())
        return fail(QStringLiteral("The password would cross the network unencrypted, so it was not sent. Choose "
                                   "\"STARTTLS\" or \"SSL/TLS\" under Security, or clear the user name."));
    if (m_extensions.authPlain) {
        send(authPlainCommand(fields.user, fields.password));
        m_step = Step::AuthPlain;
    } else if (m_extensions.authLogin) {
        send(authLoginCommand());
        m_step = Step::AuthLoginUser;
    } else {
        fail(QStringLiteral("The server offers no login this program can use (AUTH PLAIN or AUTH LOGIN)."));
    }
}

void SmtpSession::logInWithToken(const SmtpFields& fields)
{
    if (!m_socket->isEncrypted())
        return fail(QStringLiteral("The access token would cross the network unencrypted, so it was not sent. Choose "
                                   "\"STARTTLS\" or \"SSL/TLS\" under Security, or clear the user name."));
    if (fields.accessToken.isEmpty())
        return fail(QStringLiteral("There is no access token for the OAuth2 login, so the login was not tried."));
    if (m_extensions.authXoauth2) {
        m_oauthBearer = false;
        send(xoauth2Command(fields.user, fields.accessToken));
    } else if (m_extensions.authOauthBearer) {
        m_oauthBearer = true;
        send(oauthBearerCommand(fields.user, m_peerName, m_port, fields.accessToken));
    } else {
        return fail(
            QStringLiteral("The server offers no OAuth2 login this program can use (AUTH XOAUTH2 or OAUTHBEARER)."));
    }
    m_step = Step::AuthOAuth;
}

void SmtpSession::sendMailFrom(const SmtpFields& fields)
{
    const bool eightBit = m_extended && m_extensions.eightBitMime && !isAsciiMessage(fields.message);
    send(m_extended ? mailFromCommand(fields.message.senderAddress, eightBit)
                    : mailFromCommand(fields.message.senderAddress));
    m_step = Step::MailFrom;
}

void SmtpSession::recipientAnswered(bool accepted, const QByteArray& reply)
{
    if (accepted) {
        ++m_acceptedRecipients;
        return;
    }
    m_lastRefusal = platform::fromCodePage(reply);
    m_refused.append(m_recipients.value(m_nextRecipient - 1) + QStringLiteral(": ") + m_lastRefusal.trimmed());
}

// One RCPT TO per address; once all are asked, DATA when at least one was accepted.
void SmtpSession::sendNextRecipient()
{
    if (m_nextRecipient < m_recipients.size()) {
        send(rcptToCommand(m_recipients[m_nextRecipient++]));
        m_step = Step::RcptTo;
        return;
    }
    if (m_acceptedRecipients == 0) {
        finish({Outcome::ServerError, m_lastRefusal, 0, m_refused});
        return;
    }
    send(dataCommand());
    m_step = Step::Data;
}

void SmtpSession::sendMessage(const SmtpFields& fields)
{
    const SmtpMessage& message = fields.message;
    const QDateTime now = m_clock.now();
    const QString date = dateHeaderValue(now);
    const QString id = messageIdValue(message.senderAddress, now, QRandomGenerator::global()->generate64());
    const bool eightBit = m_extended && m_extensions.eightBitMime;
    send(messageData(message, date, id, MessageEncoding{eightBit}));
    m_step = Step::Message;
}

void SmtpSession::fail(const QString& text)
{
    finish({Outcome::ServerError, text, 0, m_refused});
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
