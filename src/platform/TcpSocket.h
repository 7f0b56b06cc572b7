#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

#include <memory>

namespace sondrel::platform {

// How a TLS connection checks the server: always against the system's trusted authorities and the host name.
// A certificate the user chose to trust for this host and port is accepted as it is, and only that one.
struct TlsOptions {
    QString peerName;              // the host name the certificate must name
    QByteArray trustedCertificate; // DER; empty when the user trusts none of their own
};

// An asynchronous TCP client socket that can speak TLS from the first byte or switch to it later.
class TcpSocket : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    ~TcpSocket() override = default;

    virtual void connectToHost(const QString& host, quint16 port) = 0;
    // Connects and negotiates TLS before any data; data arrives only once the connection is encrypted.
    virtual void connectToHostEncrypted(const QString& host, quint16 port, const TlsOptions& tls) = 0;
    // Switches the connected socket to TLS (after the server agreed to STARTTLS); `encrypted` follows.
    virtual void startEncryption(const TlsOptions& tls) = 0;
    virtual bool isEncrypted() const = 0;
    // The local end's address as an SMTP address literal: "[192.0.2.1]" or "[IPv6:2001:db8::1]".
    virtual QString localAddressLiteral() const = 0;
    virtual void write(const QByteArray& bytes) = 0;
    // Everything received and not yet read.
    virtual QByteArray readAll() = 0;
    virtual void close() = 0;

signals:
    void connected();
    void encrypted();
    void dataArrived();
    // number is the socket error number the user is shown; description explains it.
    void errorOccurred(int number, const QString& description);
    // The TLS handshake failed because of the server's certificate: description is the system's explanation,
    // certificate the server's own (DER), so that the user may decide to trust it.
    void certificateRejected(const QString& description, const QByteArray& certificate);
};

class TcpSocketFactory {
public:
    virtual ~TcpSocketFactory() = default;
    virtual std::unique_ptr<TcpSocket> create() = 0;
};

// The machine's fully qualified name, or empty text when it has none with a dot in it.
QString fullyQualifiedHostName();

} // namespace sondrel::platform
