#pragma once

#include <QByteArray>
#include <QList>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <QUrl>

#include <functional>

namespace sondrel::test {

// An in-process HTTP peer on an ephemeral loopback port with a canned script, for what a real server
// cannot be made to do (reset, never answer, answer too late). Once a request's head has arrived,
// onRequest(socket, head) decides what happens on that connection; by default nothing does.
class MiniHttpServer final : public QObject {
public:
    MiniHttpServer();

    QUrl url(const QString& path = QStringLiteral("/")) const;

    // A plain response with Content-Length and the given status line, headers and body.
    static QByteArray response(const QByteArray& statusLine, const QByteArray& body,
                               const QByteArray& headers = "Content-Type: text/html\r\n");

    std::function<void(QTcpSocket* socket, const QByteArray& head)> onRequest;
    // Called as soon as a connection is accepted, before anything is read.
    std::function<void(QTcpSocket* socket)> onConnection;
    int requests = 0;
    int disconnects = 0; // connections that have ended, closed by either side
    QList<QPointer<QTcpSocket>> sockets;

private:
    QTcpServer m_server;
};

// Gives a loopback port that nothing listens on, so a connection there is refused.
quint16 unusedLoopbackPort();

} // namespace sondrel::test
