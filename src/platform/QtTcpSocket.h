#pragma once

#include "platform/TcpSocket.h"

#include <QAbstractSocket>
#include <QTcpSocket>

namespace sondrel::platform {

// The socket error numbers users of such tools know (10061 refused, 11001 host not found, ...) and a clear
// description for a Qt socket error; qtText is Qt's own explanation, used where no better one is known.
int socketErrorNumber(QAbstractSocket::SocketError error);
QString socketErrorDescription(QAbstractSocket::SocketError error, const QString& qtText);

// A TcpSocket made with QTcpSocket. It never uses a proxy.
class QtTcpSocket final : public TcpSocket {
    Q_OBJECT
public:
    QtTcpSocket();
    ~QtTcpSocket() override;
    void connectToHost(const QString& host, quint16 port) override;
    void write(const QByteArray& bytes) override;
    QByteArray readAll() override;
    void close() override;

private:
    QTcpSocket m_socket;
};

class QtTcpSocketFactory final : public TcpSocketFactory {
public:
    std::unique_ptr<TcpSocket> create() override;
};

} // namespace sondrel::platform
