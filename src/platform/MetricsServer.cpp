#include "platform/MetricsServer.h"

#include <QAbstractHttpServer>
#include <QElapsedTimer>
#include <QHttpServerRequest>
#include <QHttpServerResponder>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <array>
#include <unistd.h>
#include <unordered_map>

namespace sondrel::platform {

namespace {

constexpr QByteArrayView kPlainText = "text/plain; charset=utf-8";

QByteArray contentType(MetricsServer::Format format)
{
    return format == MetricsServer::Format::OpenMetrics
               ? QByteArrayLiteral("application/openmetrics-text; version=1.0.0; charset=utf-8")
               : QByteArrayLiteral("text/plain; version=0.0.4; charset=utf-8");
}

// Answers with an empty body and ends the connection once the answer has gone.
void refuse(QTcpSocket* socket, QByteArrayView statusLine)
{
    socket->write(statusLine.toByteArray() + "\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
    socket->disconnectFromHost();
}

} // namespace

QString ListenAddress::text() const
{
    QString host = address.toString();
    if (address == QHostAddress::Any)
        host = QStringLiteral("*");
    else if (address.protocol() == QAbstractSocket::IPv6Protocol)
        host = u'[' + host + u']';
    return host + u':' + QString::number(port);
}

std::optional<ListenAddress> parseListenAddress(const QString& text, QString* error)
{
    const auto refused = [error](const QString& why) -> std::optional<ListenAddress> {
        if (error)
            *error = why;
        return std::nullopt;
    };
    QString host;
    QString portText = text;
    if (text.startsWith(u'[')) {
        const qsizetype close = text.indexOf(u']');
        if (close < 2 || text.mid(close + 1, 1) != u":")
            return refused(QStringLiteral("\"%1\" is not [IPV6]:PORT").arg(text));
        host = text.mid(1, close - 1);
        portText = text.mid(close + 2);
    } else if (const qsizetype colon = text.lastIndexOf(u':'); colon >= 0) {
        host = text.left(colon);
        portText = text.mid(colon + 1);
        if (host.contains(u':'))
            return refused(QStringLiteral("an IPv6 address goes in brackets, as in [::1]:9420, not \"%1\"").arg(text));
    }
    bool digits = !portText.isEmpty() && portText.size() <= 5;
    for (const QChar c : portText)
        digits = digits && c >= u'0' && c <= u'9';
    const uint port = digits ? portText.toUInt() : 0;
    if (!digits || port > 65535)
        return refused(QStringLiteral("\"%1\" is not a port from 0 to 65535").arg(portText));

    ListenAddress at;
    at.port = quint16(port);
    if (host.isEmpty() && !text.startsWith(u'['))
        at.address = QHostAddress::LocalHost;
    else if (host == u"localhost")
        at.address = QHostAddress::LocalHost;
    else if (host == u"*")
        at.address = QHostAddress::Any;
    else if (!at.address.setAddress(host) ||
             (text.startsWith(u'[')) != (at.address.protocol() == QAbstractSocket::IPv6Protocol))
        return refused(QStringLiteral("\"%1\" is not an IP address, \"localhost\" or \"*\"").arg(host));
    return at;
}

class MetricsServer::Http final : public QAbstractHttpServer {
public:
    Http(Render render, Limits limits)
        : m_render(std::move(render))
        , m_limits(limits)
    {
    }
    // The sockets go first, while the table they leave is still there.
    ~Http() override { qDeleteAll(servers()); }

    // A connection arrived: false when it is refused, as one too many.
    bool admit(QTcpSocket* socket)
    {
        if (int(m_open.size()) >= m_limits.connections) {
            connect(socket, &QAbstractSocket::disconnected, socket, &QObject::deleteLater);
            refuse(socket, "HTTP/1.1 503 Service Unavailable");
            return false;
        }
        // Unread requests wait in the system's buffers beyond this; the whole request must fit, since the parser
        // keeps all of it until it is complete.
        socket->setReadBufferSize(m_limits.requestBytes);
        m_open.emplace(socket, 0);
        connect(socket, &QObject::destroyed, this, [this, socket] { m_open.erase(socket); });
        // Before the parser's own handler, which is connected once the connection is taken from the listener.
        connect(socket, &QIODevice::readyRead, this, [this, socket] { arrived(socket); });
        auto* deadline = new QTimer(socket);
        deadline->setSingleShot(true);
        connect(deadline, &QTimer::timeout, socket, &QAbstractSocket::abort);
        deadline->start(m_limits.idleMs);
        return true;
    }

    int openCount() const { return int(m_open.size()); }

protected:
    bool handleRequest(const QHttpServerRequest& request, QTcpSocket* socket) override
    {
        if (const auto found = m_open.find(socket); found != m_open.end())
            found->second = 0;
        // A client that asks again before reading the answer could pile up answers without end.
        if (socket->bytesToWrite() > 0) {
            socket->disconnectFromHost();
            return true;
        }
        QHttpServerResponder responder = makeResponder(request, socket);
        const QString path = request.url().path();
        if (request.method() != QHttpServerRequest::Method::Get) {
            responder.write(QByteArrayLiteral("Only GET is answered here.\n"),
                            {{"Content-Type", kPlainText.toByteArray()}, {"Allow", "GET"}},
                            QHttpServerResponder::StatusCode::MethodNotAllowed);
        } else if (path == u"/metrics") {
            const Format format = formatFor(request.value("accept"));
            const QByteArray& body = page(format);
            responder.writeStatusLine();
            responder.writeHeader("Content-Type", contentType(format));
            responder.writeHeader("Content-Length", QByteArray::number(body.size()));
            socket->write("\r\n");
            // Written as the array itself, which the socket's buffer then shares: clients reading the same page
            // at once hold one copy of it, not one each.
            socket->write(body);
        } else if (path == u"/") {
            responder.write(QByteArrayLiteral("Sondrel's metrics are at /metrics\n"), kPlainText.toByteArray());
        } else {
            responder.write(QByteArrayLiteral("Not found: the metrics are at /metrics\n"), kPlainText.toByteArray(),
                            QHttpServerResponder::StatusCode::NotFound);
        }
        if (request.value("connection").toLower().contains("close"))
            socket->disconnectFromHost();
        if (auto* deadline = socket->findChild<QTimer*>(QString(), Qt::FindDirectChildrenOnly))
            deadline->start(m_limits.idleMs);
        return true;
    }

    // Never called: handleRequest answers every request.
    void missingHandler(const QHttpServerRequest&, QTcpSocket* socket) override { socket->disconnectFromHost(); }

private:
    // New bytes of a request arrived; they are counted before the parser reads them.
    void arrived(QTcpSocket* socket)
    {
        const auto found = m_open.find(socket);
        if (found == m_open.end())
            return;
        found->second += socket->bytesAvailable();
        if (found->second < m_limits.requestBytes)
            return;
        // The parser hears no more of this connection: its buffer would stay full and never make a request.
        disconnect(socket, &QIODevice::readyRead, this, nullptr);
        refuse(socket, "HTTP/1.1 431 Request Header Fields Too Large");
    }

    const QByteArray& page(Format format)
    {
        Cached& cached = m_pages[std::size_t(format)];
        if (!cached.age.isValid() || cached.age.elapsed() >= m_limits.reuseMs) {
            cached.page = m_render(format);
            cached.age.start();
            // A page of thousands of sites is megabytes: it is not kept once it is too old to be served.
            QTimer::singleShot(m_limits.reuseMs, Qt::PreciseTimer, this, [this, &cached] {
                if (cached.age.isValid() && cached.age.elapsed() >= m_limits.reuseMs)
                    cached = Cached{};
            });
        }
        return cached.page;
    }

    struct Cached {
        QByteArray page;
        QElapsedTimer age;
    };

    Render m_render;
    Limits m_limits;
    std::unordered_map<QTcpSocket*, qint64> m_open; // the connections open, with the bytes of the request under way
    std::array<Cached, 2> m_pages;
};

class MetricsServer::Listener final : public QTcpServer {
public:
    explicit Listener(Http& http)
        : m_http(http)
    {
    }

protected:
    void incomingConnection(qintptr descriptor) override
    {
        auto* socket = new QTcpSocket(this);
        if (!socket->setSocketDescriptor(descriptor)) {
            ::close(int(descriptor));
            delete socket;
            return;
        }
        if (m_http.admit(socket))
            addPendingConnection(socket);
    }

private:
    Http& m_http;
};

MetricsServer::MetricsServer(Render render, QObject* parent)
    : MetricsServer(std::move(render), Limits{}, parent)
{
}

MetricsServer::MetricsServer(Render render, Limits limits, QObject* parent)
    : QObject(parent)
    , m_http(std::make_unique<Http>(std::move(render), limits))
{
}

MetricsServer::~MetricsServer() = default;

QString MetricsServer::listen(const ListenAddress& at)
{
    auto listener = std::make_unique<Listener>(*m_http);
    // Room for a burst of connections, each of which is then answered at once, if only with 503.
    listener->setListenBacklogSize(256);
    if (!listener->listen(at.address, at.port))
        return QStringLiteral("Cannot serve metrics on %1: %2").arg(at.text(), listener->errorString());
    m_http->bind(listener.release());
    return {};
}

ListenAddress MetricsServer::listening() const
{
    const QList<QTcpServer*> servers = m_http->servers();
    if (servers.isEmpty())
        return {};
    return {servers.front()->serverAddress(), servers.front()->serverPort()};
}

int MetricsServer::connectionCount() const
{
    return m_http->openCount();
}

MetricsServer::Format MetricsServer::formatFor(const QByteArray& accept)
{
    for (const QByteArray& range : accept.split(',')) {
        const QList<QByteArray> parts = range.split(';');
        if (parts.front().trimmed().toLower() != "application/openmetrics-text")
            continue;
        bool refused = false;
        for (qsizetype i = 1; i < parts.size(); ++i) {
            const QByteArray parameter = parts[i].trimmed().toLower();
            if (parameter.startsWith("q="))
                refused = parameter.mid(2).toDouble() <= 0;
        }
        if (!refused)
            return Format::OpenMetrics;
    }
    return Format::Prometheus;
}

} // namespace sondrel::platform
