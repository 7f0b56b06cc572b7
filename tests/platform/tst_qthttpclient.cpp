#include "platform/QtHttpClient.h"

#include "support/MiniHttpServer.h"

#include <QProcess>
#include <QSignalSpy>
#include <QSslKey>
#include <QSslServer>
#include <QSslSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

using namespace sondrel::platform;
using namespace sondrel::test;

namespace {

// Everything a transfer reported, in order: "certificate <issuer>", "started <type>", "body", "finished", "failed".
struct Recorder {
    QStringList events;
    QByteArray body;

    HttpClient::Handlers handlers()
    {
        return {
            [this](const QByteArray& type) { events << "started " + QString::fromLatin1(type); },
            [this](const QByteArray& bytes) {
                events << QStringLiteral("body");
                body += bytes;
            },
            [this] { events << QStringLiteral("finished"); }, [this] { events << QStringLiteral("failed"); },
            [this](const QDateTime&, const QString& issuer, const QDateTime&) { events << "certificate " + issuer; }};
    }
    bool ended() const { return events.contains(u"finished"_qs) || events.contains(u"failed"_qs); }
};

} // namespace

class TestQtHttpClient : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { QVERIFY(m_dir.isValid()); }

    void bodyArrivesInPiecesInOrder_thenTheTransferFinishes()
    {
        MiniHttpServer server;
        server.onRequest = [](QTcpSocket* socket, const QByteArray&) {
            socket->write("HTTP/1.1 200 OK\r\nContent-Type: text/plain; charset=koi8-r\r\nContent-Length: 10\r\n\r\n");
            socket->write("first");
            QTimer::singleShot(300, socket, [socket] { socket->write("-last"); });
        };
        QtHttpClient client;
        Recorder recorder;
        const auto transfer = client.get(server.url(), recorder.handlers());
        QTRY_VERIFY_WITH_TIMEOUT(recorder.ended(), 10000);
        QCOMPARE(recorder.body, QByteArray("first-last"));
        QCOMPARE(recorder.events.first(), u"started text/plain; charset=koi8-r"_qs);
        QVERIFY(recorder.events.count(u"body"_qs) >= 2);
        QCOMPARE(recorder.events.last(), u"finished"_qs);
        QCOMPARE(recorder.events.count(u"finished"_qs), 1);
    }

    void errorStatuses_areResponsesThatArrived_data()
    {
        QTest::addColumn<QByteArray>("status");
        for (const char* status : {"404 Not Found", "500 Internal Server Error", "503 Service Unavailable",
                                   "418 I'm a teapot", "401 Unauthorized", "451 Unavailable"})
            QTest::newRow(status) << QByteArray(status);
    }
    void errorStatuses_areResponsesThatArrived()
    {
        QFETCH(QByteArray, status);
        MiniHttpServer server;
        server.onRequest = [&](QTcpSocket* socket, const QByteArray&) {
            socket->write(MiniHttpServer::response(status, "the error page"));
        };
        QtHttpClient client;
        Recorder recorder;
        const auto transfer = client.get(server.url(), recorder.handlers());
        QTRY_VERIFY_WITH_TIMEOUT(recorder.ended(), 10000);
        QCOMPARE(recorder.events.last(), u"finished"_qs);
        QCOMPARE(recorder.body, QByteArray("the error page"));
    }

    // Refused and reset connections are covered where the page check reports them.
    void tlsFailures_fail_data()
    {
        QTest::addColumn<QString>("script");
        QTest::newRow("plain HTTP where TLS is expected") << "plain-for-tls";
        QTest::newRow("certificate nobody vouches for") << "self-signed";
    }
    void tlsFailures_fail()
    {
        QFETCH(QString, script);
        MiniHttpServer server;
        QSslServer tlsServer;
        QUrl url = server.url();
        if (script == u"plain-for-tls") {
            url.setScheme(QStringLiteral("https"));
            server.onConnection = [](QTcpSocket* socket) { socket->write("HTTP/1.1 400 Bad Request\r\n\r\n"); };
        } else if (script == u"self-signed") {
            if (!QSslSocket::supportsSsl())
                QSKIP("no TLS backend");
            const QString key = m_dir.filePath("key.pem"), cert = m_dir.filePath("cert.pem");
            QProcess openssl;
            QSignalSpy ended(&openssl, &QProcess::finished);
            openssl.start("openssl",
                          {"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "1", "-subj", "/CN=127.0.0.1",
                           "-addext", "subjectAltName=IP:127.0.0.1", "-keyout", key, "-out", cert});
            if (!ended.wait(20000) || openssl.exitCode() != 0)
                QSKIP("openssl cannot make a test certificate");
            QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
            QFile keyFile(key), certFile(cert);
            QVERIFY(keyFile.open(QIODevice::ReadOnly) && certFile.open(QIODevice::ReadOnly));
            tls.setPrivateKey(QSslKey(&keyFile, QSsl::Rsa));
            tls.setLocalCertificate(QSslCertificate(&certFile));
            tlsServer.setSslConfiguration(tls);
            QVERIFY(tlsServer.listen(QHostAddress::LocalHost));
            url = QUrl(QStringLiteral("https://127.0.0.1:%1/").arg(tlsServer.serverPort()));
        }
        QtHttpClient client;
        Recorder recorder;
        const auto transfer = client.get(url, recorder.handlers());
        QSignalSpy handshakes(&tlsServer, &QSslServer::startedEncryptionHandshake);
        QTRY_VERIFY_WITH_TIMEOUT(recorder.ended(), 10000);
        QCOMPARE(recorder.events.last(), u"failed"_qs);
        QVERIFY(!recorder.events.contains(u"finished"_qs));
        // The certificate is right for the address in every other way, so only its issuer is refused.
        QCOMPARE(handshakes.count(), script == u"self-signed" ? 1 : 0);
    }

    void addressesThatAreNotHttp_failLater_withoutAConnection()
    {
        MiniHttpServer server;
        QtHttpClient client;
        for (const QUrl& url : {QUrl("file:///etc/hostname"), QUrl(server.url().toString().replace("http", "ftp"))}) {
            Recorder recorder;
            const auto transfer = client.get(url, recorder.handlers());
            QVERIFY(recorder.events.isEmpty());
            QTRY_COMPARE(recorder.events, QStringList({"failed"}));
        }
        QCOMPARE(server.requests, 0);
    }

    void destroyingTheTransfer_abortsItWithoutAnotherWord()
    {
        MiniHttpServer server;
        QtHttpClient client;
        Recorder recorder;
        auto transfer = client.get(server.url(), recorder.handlers());
        QTRY_COMPARE_WITH_TIMEOUT(server.requests, 1, 10000);
        transfer.reset();
        QTRY_COMPARE_WITH_TIMEOUT(server.disconnects, 1, 10000);
        QVERIFY(recorder.events.isEmpty());
    }

    void destroyingTheTransferFromItsOwnHandler_stopsIt()
    {
        MiniHttpServer server;
        server.onRequest = [](QTcpSocket* socket, const QByteArray&) {
            socket->write("HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\nfirst");
            QTimer::singleShot(300, socket, [socket] { socket->write("-last"); });
        };
        QtHttpClient client;
        Recorder recorder;
        std::unique_ptr<PendingOperation> transfer;
        HttpClient::Handlers handlers = recorder.handlers();
        handlers.bodyData = [&, inner = handlers.bodyData](const QByteArray& bytes) {
            inner(bytes);
            transfer.reset();
        };
        transfer = client.get(server.url(), handlers);
        QTRY_COMPARE_WITH_TIMEOUT(server.disconnects, 1, 10000);
        QCOMPARE(recorder.events, QStringList({"started ", "body"}));
    }

private:
    QTemporaryDir m_dir;
};

QTEST_GUILESS_MAIN(TestQtHttpClient)
#include "tst_qthttpclient.moc"
