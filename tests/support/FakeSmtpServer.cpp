#include "support/FakeSmtpServer.h"

#include <QTimer>

namespace sondrel::test {

FakeSmtpServer::FakeSmtpServer(QList<Reply> script)
    : script(std::move(script))
{
    m_server.listen(QHostAddress::LocalHost, 0);
    connect(&m_server, &QTcpServer::newConnection, this, [this] {
        m_peer = m_server.nextPendingConnection();
        m_peer->setParent(this);
        ++connections;
        m_replyIndex = 0;
        m_inData = false;
        m_pending.clear();
        connect(m_peer, &QTcpSocket::readyRead, this, &FakeSmtpServer::onData);
        connect(m_peer, &QTcpSocket::disconnected, this, [this] { peerClosed = true; });
        sendReply(m_replyIndex++);
    });
}

void FakeSmtpServer::onData()
{
    m_pending += m_peer->readAll();
    while (true) {
        const QByteArray end = m_inData ? QByteArrayLiteral("\r\n.\r\n") : QByteArrayLiteral("\n");
        const qsizetype at = m_pending.indexOf(end);
        if (at < 0)
            return;
        const QByteArray command = m_pending.left(at + end.size());
        m_pending.remove(0, command.size());
        commands.append(command);
        if (closeAfterCommands >= 0 && commands.size() >= closeAfterCommands) {
            m_peer->close();
            return;
        }
        const int index = m_replyIndex++;
        m_inData = !m_inData && command.startsWith("DATA") && script.value(index).value(0).startsWith("354");
        sendReply(index);
    }
}

void FakeSmtpServer::sendReply(int index)
{
    const Reply pieces = script.value(index);
    for (qsizetype i = 0; i < pieces.size(); ++i) {
        QTimer::singleShot(int(i) * 30, m_peer, [peer = m_peer, piece = pieces[i]] {
            if (peer)
                peer->write(piece);
        });
    }
}

} // namespace sondrel::test
