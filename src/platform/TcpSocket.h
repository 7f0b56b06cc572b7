#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

#include <memory>

namespace sondrel::platform {

// An asynchronous TCP client socket.
class TcpSocket : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    ~TcpSocket() override = default;

    virtual void connectToHost(const QString& host, quint16 port) = 0;
    virtual void write(const QByteArray& bytes) = 0;
    // Everything received and not yet read.
    virtual QByteArray readAll() = 0;
    virtual void close() = 0;

signals:
    void connected();
    void dataArrived();
    // number is the socket error number the user is shown; description explains it.
    void errorOccurred(int number, const QString& description);
};

class TcpSocketFactory {
public:
    virtual ~TcpSocketFactory() = default;
    virtual std::unique_ptr<TcpSocket> create() = 0;
};

} // namespace sondrel::platform
