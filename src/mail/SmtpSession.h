#pragma once

#include "mail/MailSecurity.h"
#include "mail/SmtpProtocol.h"
#include "platform/Clock.h"
#include "platform/TcpSocket.h"

#include <QObject>
#include <QTimer>

#include <functional>
#include <memory>

namespace sondrel::mail {

// The values one exchange works with, read again each time a command is built.
struct SmtpFields {
    QString host; // the host text, optionally with ":" and a port
    SmtpMessage message;
    SmtpSecurity security = SmtpSecurity::None;
    QString user; // empty: no login
    QString password;
    LoginMethod login = LoginMethod::Password;
    QString accessToken;           // the OAuth2 access token for login OAuth2, set just before the attempt
    QByteArray trustedCertificate; // DER of a certificate the user trusts for this host and port
};

// One SMTP exchange over a fresh socket, with one RCPT TO per recipient address and the message sent when at
// least one was accepted.
// - With no encryption and no login it speaks as SMTP servers have always been spoken to: greeting, HELO, MAIL
//   FROM, RCPT TO, DATA, the message, QUIT. Each reply whose code is 220, 250 or 354 moves the dialogue one step
//   on, whichever of the three it is, with two exceptions: the message follows DATA only after 354, and RCPT TO
//   also succeeds with 251.
// - Otherwise it opens with EHLO, upgrades to TLS with STARTTLS (or speaks TLS from the first byte), says EHLO
//   again, logs in with AUTH PLAIN or AUTH LOGIN, and expects each step's own success code.
// - An OAuth2 login sends the access token with AUTH XOAUTH2 when the server offers it, else with AUTH OAUTHBEARER.
//   A refusal that comes as a 334 challenge is answered as the mechanism asks, and the server's final reply ends the
//   exchange with the challenge's reason in words before it; tokenRejected tells whether a fresh token may pass,
//   from the challenge, or, for a refusal with no challenge, when it is 535 (as Microsoft answers an expired token).
// Any other code ends the exchange, and so does a reply too long to be a server's (see SmtpReplyReader). A
// password or an access token is never sent over an unencrypted connection, and an empty access token is never
// sent at all. Every wait is bounded: no reply within the
// reply time-out of the last command (or of the connect) ends the exchange as a socket error. Destroying the session
// closes the socket without callbacks.
class SmtpSession : public QObject {
    Q_OBJECT
public:
    enum class Outcome {
        Sent,                // QUIT was answered with another code, normally 221
        ClosedAfterQuit,     // QUIT was answered with an accepted code; the socket is closed and nothing is said
        ServerError,         // a reply before QUIT had another code; text is the whole reply or what is missing
        SocketError,         // the socket failed, the port was bad or the server fell silent
        CertificateRejected, // the server's certificate failed the checks; text says why
        NoConnection,        // the system had no Internet connection, so no exchange began (told by MailDelivery)
        NoAccessToken,       // no OAuth2 access token could be had, so no exchange began; text says why (MailDelivery)
    };
    Q_ENUM(Outcome)
    struct Result {
        Result() = default;
        Result(Outcome outcome, QString text, int errorNumber = 0, QStringList refusedRecipients = {},
               QByteArray certificate = {})
            : outcome(outcome)
            , text(std::move(text))
            , errorNumber(errorNumber)
            , refusedRecipients(std::move(refusedRecipients))
            , certificate(std::move(certificate))
        {
        }
        Outcome outcome = Outcome::Sent;
        QString text; // the server's reply or the error's description
        int errorNumber = 0;
        QStringList refusedRecipients; // "address: reply" for each recipient the server refused
        QByteArray certificate;        // the server's certificate (DER), when it was rejected
        bool tokenRejected = false;    // the server refused the OAuth2 access token itself: a fresh one may pass
        bool signInAgain = false;      // with NoAccessToken: only a new sign-in can mend it
    };

    static constexpr int kReplyTimeoutMs = 60000;
    static constexpr int kTimedOutError = 10060;
    static constexpr int kBadPortError = 10049;
    static constexpr int kNoSocketError = 10093;

    SmtpSession(platform::TcpSocketFactory& sockets, platform::Clock& clock, std::function<SmtpFields()> fields,
                QObject* parent = nullptr);
    ~SmtpSession() override;

    void setReplyTimeout(int milliseconds) { m_replyTimeoutMs = milliseconds; }

    // Connects and lets the replies drive the dialogue. A session runs once.
    void start();
    // Ends the exchange at once, closing the socket; nothing more is emitted.
    void abort();

    bool isActive() const { return m_active; }

signals:
    // The exchange is over; emitted once. The socket is already closed.
    void finished(const sondrel::mail::SmtpSession::Result& result);
    // A reply has been dealt with (after finished, when it ended the exchange).
    void replyHandled();

private:
    // The reply the dialogue waits for next.
    enum class Step {
        Greeting,
        Helo,
        Ehlo,
        StartTls,
        Handshake, // no reply: the TLS handshake
        AuthPlain,
        AuthLoginUser,
        AuthLoginPassword,
        AuthLoginDone,
        AuthOAuth,        // AUTH XOAUTH2 or AUTH OAUTHBEARER with the access token
        AuthOAuthRefused, // the error challenge answered: the server's final reply
        MailFrom,
        RcptTo,
        Data,
        Message,
        Quit
    };

    void onDataArrived();
    void onSocketError(int number, const QString& description);
    void handleReply(const QByteArray& reply);
    void handleExtendedReply(const QByteArray& code, const QByteArray& reply, const SmtpFields& fields);
    void afterEhlo(const SmtpFields& fields);
    void logInWithToken(const SmtpFields& fields);
    void sendMailFrom(const SmtpFields& fields);
    void recipientAnswered(bool accepted, const QByteArray& reply);
    void sendNextRecipient();
    void sendMessage(const SmtpFields& fields);
    void fail(const QString& text);
    platform::TlsOptions tlsOptions(const SmtpFields& fields) const;
    QString ehloDomain() const;
    void send(const QByteArray& bytes);
    void finish(const Result& result);

    platform::TcpSocketFactory& m_sockets;
    platform::Clock& m_clock;
    std::function<SmtpFields()> m_fields;
    std::unique_ptr<platform::TcpSocket> m_socket;
    Step m_step = Step::Greeting;
    bool m_extended = false; // EHLO, TLS or login are in play
    QString m_peerName;
    quint16 m_port = 0;
    bool m_oauthBearer = false;      // the OAuth2 login uses OAUTHBEARER, not XOAUTH2
    OAuthChallenge m_oauthChallenge; // what the server's error challenge said
    SmtpExtensions m_extensions;
    QStringList m_recipients;
    qsizetype m_nextRecipient = 0;
    int m_acceptedRecipients = 0;
    QStringList m_refused;
    QString m_lastRefusal;
    SmtpReplyReader m_reader;
    QTimer m_replyTimer;
    int m_replyTimeoutMs = kReplyTimeoutMs;
    bool m_started = false;
    bool m_active = false;
};

} // namespace sondrel::mail
