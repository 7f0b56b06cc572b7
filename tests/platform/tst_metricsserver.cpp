#include "platform/MetricsServer.h"

#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

#include <memory>

using namespace sondrel::platform;

namespace {

// A client on loopback that sends its bytes and collects everything until the server closes.
struct Client {
    explicit Client(quint16 port)
    {
        socket.connectToHost(QHostAddress::LocalHost, port);
        QObject::connect(&socket, &QIODevice::readyRead, [this] { received += socket.readAll(); });
    }
    bool closed() const { return socket.state() == QAbstractSocket::UnconnectedState; }
    QTcpSocket socket;
    QByteArray received;
};

} // namespace

class TestMetricsServer : public QObject {
    Q_OBJECT
private:
    int m_renders = 0;
    std::unique_ptr<MetricsServer> serve(MetricsServer::Limits limits = {})
    {
        auto server = std::make_unique<MetricsServer>(
            [this](MetricsServer::Format format) {
                ++m_renders;
                return format == MetricsServer::Format::OpenMetrics ? QByteArray("open page\n# EOF\n")
                                                                    : QByteArray("text page\n");
            },
            limits);
        const QString refusal = server->listen({QHostAddress::LocalHost, 0});
        return refusal.isEmpty() ? std::move(server) : nullptr;
    }

private slots:
    void requests_getTheirAnswer_data()
    {
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<QByteArray>("statusLine");
        QTest::addColumn<QByteArray>("contained");
        const QByteArray end = "Host: 127.0.0.1\r\nConnection: close\r\n\r\n";
        QTest::newRow("the page, Prometheus text") << "GET /metrics HTTP/1.1\r\n" + end << QByteArray("HTTP/1.1 200")
                                                   << QByteArray("text/plain; version=0.0.4; charset=utf-8");
        QTest::newRow("the page, OpenMetrics as Prometheus asks")
            << "GET /metrics HTTP/1.1\r\nAccept: application/openmetrics-text;version=1.0.0,application/"
               "openmetrics-text;version=0.0.1;q=0.75,text/plain;version=0.0.4;q=0.5,*/*;q=0.1\r\n" +
                   end
            << QByteArray("HTTP/1.1 200") << QByteArray("open page\n# EOF\n");
        QTest::newRow("OpenMetrics refused with q=0")
            << "GET /metrics HTTP/1.1\r\nAccept: application/openmetrics-text; q=0, text/plain\r\n" + end
            << QByteArray("HTTP/1.1 200") << QByteArray("text page\n");
        QTest::newRow("a query is the same page")
            << "GET /metrics?x=1 HTTP/1.1\r\n" + end << QByteArray("HTTP/1.1 200") << QByteArray("text page\n");
        QTest::newRow("the pointer") << "GET / HTTP/1.1\r\n" + end << QByteArray("HTTP/1.1 200")
                                     << QByteArray("/metrics\n");
        QTest::newRow("another path") << "GET /etc/passwd HTTP/1.1\r\n" + end << QByteArray("HTTP/1.1 404")
                                      << QByteArray("/metrics");
        QTest::newRow("another method") << "POST /metrics HTTP/1.1\r\nContent-Length: 3\r\n" + end + "abc"
                                        << QByteArray("HTTP/1.1 405") << QByteArray("Allow: GET");
        QTest::newRow("a request line of 1 MB") << "GET /" + QByteArray(1 << 20, 'a') + " HTTP/1.1\r\n" + end
                                                << QByteArray("HTTP/1.1 431") << QByteArray("Connection: close");
        QTest::newRow("headers beyond the bound")
            << "GET /metrics HTTP/1.1\r\n" + QByteArray(200, 'X').append(": y\r\n").repeated(50) + end
            << QByteArray("HTTP/1.1 431") << QByteArray("Content-Length: 0");
        QTest::newRow("not HTTP") << QByteArray("\x16\x03\x01\x02\x00\x01\x00\x01\xfc\x03\x03\n\n", 13) << QByteArray()
                                  << QByteArray();
    }
    void requests_getTheirAnswer()
    {
        QFETCH(QByteArray, request);
        QFETCH(QByteArray, statusLine);
        QFETCH(QByteArray, contained);
        const auto server = serve();
        QVERIFY(server);
        Client client(server->listening().port);
        client.socket.write(request);
        QTRY_VERIFY_WITH_TIMEOUT(client.closed(), 10000);
        QVERIFY2(client.received.startsWith(statusLine), client.received.left(200).constData());
        QVERIFY2(client.received.contains(contained), client.received.left(400).constData());
        QTRY_COMPARE(server->connectionCount(), 0);
    }

    // One connection too many is told so at once; a connection that never completes a request, or stops in the
    // middle of one, is closed when its time is up, and the page it asked for is rendered once for all.
    void connectionsStayWithinTheirBounds()
    {
        const auto server = serve({2, 1024, 400, 60000});
        QVERIFY(server);
        const quint16 port = server->listening().port;
        Client silent(port), slow(port);
        slow.socket.write("GET /met");
        QTRY_COMPARE(server->connectionCount(), 2);
        Client extra(port);
        QTRY_VERIFY_WITH_TIMEOUT(extra.closed(), 5000);
        QVERIFY(extra.received.startsWith("HTTP/1.1 503"));
        QTRY_VERIFY_WITH_TIMEOUT(silent.closed() && slow.closed(), 5000);
        QVERIFY(silent.received.isEmpty() && slow.received.isEmpty());

        m_renders = 0;
        Client first(port), second(port);
        for (Client* client : {&first, &second})
            client->socket.write("GET /metrics HTTP/1.1\r\nConnection: close\r\n\r\n");
        QTRY_VERIFY_WITH_TIMEOUT(first.closed() && second.closed(), 5000);
        QVERIFY(first.received.endsWith("text page\n") && second.received.endsWith("text page\n"));
        QCOMPARE(m_renders, 1);
    }

    // Keep-alive: requests one after the other on one connection are each answered; a client that sends the next
    // before it has read the previous answer is closed rather than sent answer upon answer.
    void keepAlive_answersInTurn()
    {
        const auto server = serve();
        QVERIFY(server);
        Client client(server->listening().port);
        for (int i = 1; i <= 3; ++i) {
            client.socket.write("GET /metrics HTTP/1.1\r\n\r\n");
            QTRY_COMPARE(client.received.count("text page\n"), i);
        }
        QCOMPARE(client.socket.state(), QAbstractSocket::ConnectedState);
    }

    void portInUse_isRefusedWithTheReason()
    {
        QTcpServer holder;
        QVERIFY(holder.listen(QHostAddress::LocalHost));
        MetricsServer server([](MetricsServer::Format) { return QByteArray(); });
        const QString refusal = server.listen({QHostAddress::LocalHost, holder.serverPort()});
        QCOMPARE(refusal, QStringLiteral("Cannot serve metrics on 127.0.0.1:%1: The bound address is already in use")
                              .arg(holder.serverPort()));
    }

    void listenAddresses_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("parsed"); // ListenAddress::text(), or the reason it is refused
        QTest::newRow("port alone") << "9420"
                                    << "127.0.0.1:9420";
        QTest::newRow("colon and port") << ":9420"
                                        << "127.0.0.1:9420";
        QTest::newRow("IPv4") << "192.0.2.7:80"
                              << "192.0.2.7:80";
        QTest::newRow("every address") << "*:9420"
                                       << "*:9420";
        QTest::newRow("localhost") << "localhost:1"
                                   << "127.0.0.1:1";
        QTest::newRow("IPv6") << "[::1]:9420"
                              << "[::1]:9420";
        QTest::newRow("system's choice") << ":0"
                                         << "127.0.0.1:0";
        QTest::newRow("IPv6 without brackets")
            << "::1:9420"
            << "an IPv6 address goes in brackets, as in [::1]:9420, not \"::1:9420\"";
        QTest::newRow("IPv4 in brackets") << "[127.0.0.1]:80"
                                          << "\"127.0.0.1\" is not an IP address, \"localhost\" or \"*\"";
        QTest::newRow("a name") << "example.org:80"
                                << "\"example.org\" is not an IP address, \"localhost\" or \"*\"";
        QTest::newRow("port too big") << ":65536"
                                      << "\"65536\" is not a port from 0 to 65535";
        QTest::newRow("no port") << "127.0.0.1:"
                                 << "\"\" is not a port from 0 to 65535";
        QTest::newRow("signed port") << ":+80"
                                     << "\"+80\" is not a port from 0 to 65535";
        QTest::newRow("unclosed bracket") << "[::1:80"
                                          << "\"[::1:80\" is not [IPV6]:PORT";
    }
    void listenAddresses()
    {
        QFETCH(QString, text);
        QFETCH(QString, parsed);
        QString error;
        const auto at = parseListenAddress(text, &error);
        QCOMPARE(at ? at->text() : error, parsed);
    }
};

QTEST_GUILESS_MAIN(TestMetricsServer)
#include "tst_metricsserver.moc"
