#pragma once

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
};

// One SMTP exchange over a fresh socket: greeting, HELO, MAIL FROM, RCPT TO, DATA, the message, QUIT. Each
// reply whose code is 220, 250 or 354 moves the dialogue one step on, whichever of the three it is, with two
// exceptions: the message follows DATA only after 354, and RCPT TO also succeeds with 251; any other code ends
// it, and so does a reply too long to be a server's (see SmtpReplyReader). Every wait is bounded: no reply within the
// reply time-out of the last command (or of the connect) ends the exchange as a socket error. Destroying the session
// closes the socket without callbacks.
class SmtpSession : public QObject {
    Q_OBJECT
public:
    enum class Outcome {
        Sent,            // QUIT was answered with another code, normally 221
        ClosedAfterQuit, // QUIT was answered with an accepted code; the socket is closed and nothing is said
        ServerError,     // a reply before QUIT had another code; text is the whole reply
        SocketError,     // the socket failed, the port was bad or the server fell silent
    };
    Q_ENUM(Outcome)
    struct Result {
        Outcome outcome = Outcome::Sent;
        QString text; // the server's reply or the error's description
        int errorNumber = 0;
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
    enum class Step { Greeting, Helo, MailFrom, RcptTo, Data, Message, Quit };

    void onDataArrived();
    void onSocketError(int number, const QString& description);
    void handleReply(const QByteArray& reply);
    void send(const QByteArray& bytes);
    void finish(const Result& result);

    platform::TcpSocketFactory& m_sockets;
    platform::Clock& m_clock;
    std::function<SmtpFields()> m_fields;
    std::unique_ptr<platform::TcpSocket> m_socket;
    Step m_step = Step::Greeting;
    SmtpReplyReader m_reader;
    QTimer m_replyTimer;
    int m_replyTimeoutMs = kReplyTimeoutMs;
    bool m_started = false;
    bool m_active = false;
};

} // namespace sondrel::mail
