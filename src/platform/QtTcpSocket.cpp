#include "platform/QtTcpSocket.h"

#include <QHostInfo>
#include <QNetworkProxy>
#include <QSslConfiguration>

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

QtTcpSocket::QtTcpSocket(const QList<QSslCertificate>& extraAuthorities)
    : m_extraAuthorities(extraAuthorities)
{
    m_socket.setProxy(QNetworkProxy::NoProxy);
    QObject::connect(&m_socket, &QSslSocket::connected, this, &TcpSocket::connected);
    QObject::connect(&m_socket, &QSslSocket::encrypted, this, &TcpSocket::encrypted);
    QObject::connect(&m_socket, &QSslSocket::readyRead, this, &TcpSocket::dataArrived);
    QObject::connect(&m_socket, &QSslSocket::sslErrors, this, &QtTcpSocket::onSslErrors);
    QObject::connect(&m_socket, &QSslSocket::errorOccurred, this, [this](QAbstractSocket::SocketError error) {
        if (error == QAbstractSocket::SslHandshakeFailedError && !m_certificateProblem.isEmpty()) {
            emit certificateRejected(m_certificateProblem, m_socket.peerCertificate().toDer());
            return;
        }
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

void QtTcpSocket::prepareTls(const TlsOptions& tls)
{
    QSslConfiguration configuration = m_socket.sslConfiguration();
    configuration.setPeerVerifyMode(QSslSocket::VerifyPeer);
    if (!m_extraAuthorities.isEmpty())
        configuration.addCaCertificates(m_extraAuthorities);
    m_socket.setSslConfiguration(configuration);
    m_socket.setPeerVerifyName(tls.peerName);
    m_trustedCertificate = tls.trustedCertificate;
    m_certificateProblem.clear();
}

void QtTcpSocket::connectToHostEncrypted(const QString& host, quint16 port, const TlsOptions& tls)
{
    if (m_socket.state() != QAbstractSocket::UnconnectedState)
        m_socket.abort();
    prepareTls(tls);
    m_socket.connectToHostEncrypted(host, port, tls.peerName);
}

void QtTcpSocket::startEncryption(const TlsOptions& tls)
{
    prepareTls(tls);
    m_socket.startClientEncryption();
}

// A certificate the user trusts for this host is taken as it is; anything else is refused with the reasons.
void QtTcpSocket::onSslErrors(const QList<QSslError>& errors)
{
    const QSslCertificate peer = m_socket.peerCertificate();
    if (!m_trustedCertificate.isEmpty() && !peer.isNull() && peer.toDer() == m_trustedCertificate) {
        m_socket.ignoreSslErrors(errors);
        return;
    }
    QStringList reasons;
    for (const QSslError& error : errors)
        reasons.append(error.errorString());
    reasons.removeDuplicates();
    m_certificateProblem = reasons.join(QLatin1Char('\n'));
}

bool QtTcpSocket::isEncrypted() const
{
    return m_socket.isEncrypted();
}

QString QtTcpSocket::localAddressLiteral() const
{
    const QHostAddress address = m_socket.localAddress();
    if (address.protocol() == QAbstractSocket::IPv6Protocol) {
        bool mapped = false;
        const QHostAddress v4(address.toIPv4Address(&mapped));
        if (!mapped)
            return QStringLiteral("[IPv6:%1]").arg(address.toString());
        return QStringLiteral("[%1]").arg(v4.toString());
    }
    return QStringLiteral("[%1]").arg(address.toString());
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

QString fullyQualifiedHostName()
{
    QString name = QHostInfo::localHostName();
    if (!name.contains(u'.')) {
        const QString domain = QHostInfo::localDomainName();
        name = domain.isEmpty() ? QString() : name + u'.' + domain;
    }
    return name.contains(u'.') ? name : QString();
}

std::unique_ptr<TcpSocket> QtTcpSocketFactory::create()
{
    return std::make_unique<QtTcpSocket>(m_extraAuthorities);
}

} // namespace sondrel::platform
