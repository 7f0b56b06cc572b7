#include "platform/QtTcpSocket.h"

#include <QNetworkProxy>

namespace sondrel::platform {

int socketErrorNumber(QAbstractSocket::SocketError error)
{
    switch (error) {
    case QAbstractSocket::ConnectionRefusedError:
        return 10061;
    case QAbstractSocket::RemoteHostClosedError:
        return 10054;
    case QAbstractSocket::HostNotFoundError:
        return 11001;
    case QAbstractSocket::SocketAccessError:
        return 10013;
    case QAbstractSocket::SocketResourceError:
        return 10055;
    case QAbstractSocket::SocketTimeoutError:
        return 10060;
    case QAbstractSocket::NetworkError:
        return 10051;
    case QAbstractSocket::AddressInUseError:
        return 10048;
    case QAbstractSocket::SocketAddressNotAvailableError:
        return 10049;
    case QAbstractSocket::UnsupportedSocketOperationError:
        return 10047;
    default:
        return 10053;
    }
}

QString socketErrorDescription(QAbstractSocket::SocketError error, const QString& qtText)
{
    switch (error) {
    case QAbstractSocket::ConnectionRefusedError:
        return QStringLiteral("Connection refused: nothing accepts connections at that address and port.");
    case QAbstractSocket::RemoteHostClosedError:
        return QStringLiteral("Connection reset: the server closed the connection.");
    case QAbstractSocket::HostNotFoundError:
        return QStringLiteral("Host not found: the server's name could not be resolved.");
    case QAbstractSocket::SocketTimeoutError:
        return QStringLiteral("Connection timed out.");
    case QAbstractSocket::SocketAccessError:
        return QStringLiteral("Permission denied: the system does not allow this connection.");
    case QAbstractSocket::SocketResourceError:
        return QStringLiteral("The system has run out of sockets or memory.");
    default:
        return qtText.isEmpty() ? QStringLiteral("Connection aborted.") : qtText;
    }
}

QtTcpSocket::QtTcpSocket()
{
    m_socket.setProxy(QNetworkProxy::NoProxy);
    QObject::connect(&m_socket, &QTcpSocket::connected, this, &TcpSocket::connected);
    QObject::connect(&m_socket, &QTcpSocket::readyRead, this, &TcpSocket::dataArrived);
    QObject::connect(&m_socket, &QTcpSocket::errorOccurred, this, [this](QAbstractSocket::SocketError error) {
        emit errorOccurred(socketErrorNumber(error), socketErrorDescription(error, m_socket.errorString()));
    });
}

QtTcpSocket::~QtTcpSocket()
{
    // No signal may reach a half-destroyed owner while the connection is torn down.
    m_socket.disconnect(this);
    m_socket.abort();
}

void QtTcpSocket::connectToHost(const QString& host, quint16 port)
{
    if (m_socket.state() != QAbstractSocket::UnconnectedState)
        m_socket.abort();
    m_socket.connectToHost(host, port);
}

void QtTcpSocket::write(const QByteArray& bytes)
{
    m_socket.write(bytes);
}

QByteArray QtTcpSocket::readAll()
{
    return m_socket.readAll();
}

void QtTcpSocket::close()
{
    m_socket.close();
}

std::unique_ptr<TcpSocket> QtTcpSocketFactory::create()
{
    return std::make_unique<QtTcpSocket>();
}

} // namespace sondrel::platform
