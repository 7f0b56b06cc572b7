#pragma once

#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>

namespace sondrel::test {

// An SMTP peer on an ephemeral loopback port following a canned script, for what a real server will not do.
// Per connection it sends script[0] as the greeting, then one further reply per command. After DATA answered with
// "354" the message data up to the "." line counts as one command. A reply in several pieces is sent piece by
// piece, 30 ms apart.
class FakeSmtpServer : public QObject {
    Q_OBJECT
public:
    using Reply = QList<QByteArray>;
    explicit FakeSmtpServer(QList<Reply> script = {});
    // A server that accepts everything: the greeting, HELO, MAIL FROM, RCPT TO, DATA, the message and QUIT.
    static QList<Reply> acceptingScript()
    {
        return {{"220 ready\r\n"}, {"250 hello\r\n"},  {"250 ok\r\n"}, {"250 ok\r\n"},
                {"354 go\r\n"},    {"250 queued\r\n"}, {"221 bye\r\n"}};
    }
    QString address() const { return QStringLiteral("127.0.0.1:%1").arg(m_server.serverPort()); }

    QList<Reply> script;
    int closeAfterCommands = -1; // close instead of answering once this many commands have arrived
    QList<QByteArray> commands;  // of every connection, in order, with their line ends
    int connections = 0;
    bool peerClosed = false;

private:
    void onData();
    void sendReply(int index);

    QTcpServer m_server;
    QPointer<QTcpSocket> m_peer;
    QByteArray m_pending;
    int m_replyIndex = 0;
    bool m_inData = false;
};

} // namespace sondrel::test
