#pragma once

#include <QHostAddress>
#include <QObject>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

namespace sondrel::platform {

// Where a server listens: an address and a port.
struct ListenAddress {
    QHostAddress address;
    quint16 port = 0;

    // "127.0.0.1:9420", "[::1]:9420".
    QString text() const;
};

// Reads "ADDRESS:PORT", "[IPV6]:PORT", ":PORT" or "PORT"; without an address the server listens on 127.0.0.1 only.
// The address is an IP address, "localhost" (127.0.0.1) or "*" (every address); the port is 0 to 65535, where 0
// lets the system pick one. Empty with the reason in error when the text is none of these.
std::optional<ListenAddress> parseListenAddress(const QString& text, QString* error);

// Serves GET /metrics over HTTP, from a page that render() gives, to the monitoring systems that scrape it, and
// nothing else: "/" names the page, any other path is 404 and any other method 405. It stays small whatever
// its clients do: it reads at most Limits::requestBytes of a request (a longer one is answered 431 and closed),
// keeps at most Limits::connections at once (the next ones are answered 503 and closed), and closes a
// connection whose next request is not complete, or whose answer has not been read, within Limits::idleMs.
// A client that sends a request before reading the previous answer is closed. A page is rendered at most once
// per Limits::reuseMs, however many clients ask. Everything runs on the event loop of the thread it lives in.
class MetricsServer final : public QObject {
    Q_OBJECT
public:
    enum class Format {
        Prometheus,  // text/plain; version=0.0.4
        OpenMetrics, // application/openmetrics-text; version=1.0.0
    };
    struct Limits {
        int connections = 16;
        qint64 requestBytes = 8 * 1024;
        int idleMs = 10'000;
        int reuseMs = 500;
    };
    using Render = std::function<QByteArray(Format format)>;

    explicit MetricsServer(Render render, QObject* parent = nullptr);
    MetricsServer(Render render, Limits limits, QObject* parent = nullptr);
    ~MetricsServer() override;

    // Starts listening; empty text on success, else why not ("... already in use").
    QString listen(const ListenAddress& at);
    // The address and port listened on, once listen() succeeded.
    ListenAddress listening() const;
    // Connections open now, not counting those being refused.
    int connectionCount() const;

    // The format a request's Accept header asks for: OpenMetrics when it names application/openmetrics-text
    // without q=0, else the Prometheus text format.
    static Format formatFor(const QByteArray& accept);

private:
    class Http;
    class Listener;
    std::unique_ptr<Http> m_http;
};

} // namespace sondrel::platform
