#include "MiniHttpServer.h"

#include <QHostAddress>

namespace sondrel::test {

MiniHttpServer::MiniHttpServer()
{
    m_server.listen(QHostAddress::LocalHost);
    connect(&m_server, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket* socket = m_server.nextPendingConnection()) {
            socket->setParent(this);
            sockets.append(socket);
            auto head = std::make_shared<QByteArray>();
            connect(socket, &QTcpSocket::readyRead, socket, [this, socket, head] {
                const bool complete = head->contains("\r\n\r\n");
                head->append(socket->readAll());
                if (complete || !head->contains("\r\n\r\n"))
                    return;
                ++requests;
                if (onRequest)
                    onRequest(socket, *head);
            });
            connect(socket, &QTcpSocket::disconnected, this, [this] { ++disconnects; });
            if (onConnection)
                onConnection(socket);
        }
    });
}

QUrl MiniHttpServer::url(const QString& path) const
{
    return QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(m_server.serverPort()).arg(path));
}

QByteArray MiniHttpServer::response(const QByteArray& statusLine, const QByteArray& body, const QByteArray& headers)
{
    return "HTTP/1.1 " + statusLine + "\r\n" + headers + "Content-Length: " + QByteArray::number(body.size()) +
           "\r\nConnection: close\r\n\r\n" + body;
}

quint16 unusedLoopbackPort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost);
    return probe.serverPort();
}

} // namespace sondrel::test
