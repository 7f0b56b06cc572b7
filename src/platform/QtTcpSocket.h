#pragma once

#include "platform/TcpSocket.h"

#include <QAbstractSocket>
#include <QList>
#include <QSslCertificate>
#include <QSslError>
#include <QSslSocket>

namespace sondrel::platform {

// The socket error numbers users of such tools know (10061 refused, 11001 host not found, ...) and a clear
// description for a Qt socket error; qtText is Qt's own explanation, used where no better one is known.
int socketErrorNumber(QAbstractSocket::SocketError error);
QString socketErrorDescription(QAbstractSocket::SocketError error, const QString& qtText);

// A TcpSocket made with QSslSocket. It never uses a proxy. extraAuthorities are trusted beside the system's
// own (tests bring their own authority this way).
class QtTcpSocket final : public TcpSocket {
    Q_OBJECT
public:
    explicit QtTcpSocket(const QList<QSslCertificate>& extraAuthorities = {});
    ~QtTcpSocket() override;
    void connectToHost(const QString& host, quint16 port) override;
    void connectToHostEncrypted(const QString& host, quint16 port, const TlsOptions& tls) override;
    void startEncryption(const TlsOptions& tls) override;
    bool isEncrypted() const override;
    QString localAddressLiteral() const override;
    void write(const QByteArray& bytes) override;
    QByteArray readAll() override;
    void close() override;

private:
    void prepareTls(const TlsOptions& tls);
    void onSslErrors(const QList<QSslError>& errors);

    QSslSocket m_socket;
    QList<QSslCertificate> m_extraAuthorities;
    QByteArray m_trustedCertificate;
    QString m_certificateProblem; // why the server's certificate was refused, once it was
};

class QtTcpSocketFactory final : public TcpSocketFactory {
public:
    explicit QtTcpSocketFactory(QList<QSslCertificate> extraAuthorities = {})
        : m_extraAuthorities(std::move(extraAuthorities))
    {
    }
    std::unique_ptr<TcpSocket> create() override;

private:
    QList<QSslCertificate> m_extraAuthorities;
};

} // namespace sondrel::platform
