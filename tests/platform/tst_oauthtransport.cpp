#include "platform/OAuthTransport.h"

#include <QElapsedTimer>
#include <QFile>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>

using sondrel::platform::OAuthTransport;

namespace {

constexpr int kWaitMs = 20000;

} // namespace

// The system side of OAuth2 logins: token commands as real processes, token forms to a real HTTP server on
// loopback, and the browser's redirect.
class TestOAuthTransport : public QObject {
    Q_OBJECT
private slots:
    void tokenCommand_data()
    {
        QTest::addColumn<QByteArray>("script");
        QTest::addColumn<QString>("arguments");
        QTest::addColumn<int>("timeoutMs");
        QTest::addColumn<bool>("succeeded");
        QTest::addColumn<QByteArray>("output");
        QTest::addColumn<QString>("error"); // a part of the failure's words
        QTest::newRow("prints a token") << QByteArray("echo tok-123") << "" << 10000 << true << QByteArray("tok-123\n")
                                        << "";
        QTest::newRow("fails with words") << QByteArray("echo partial; echo 'no account for me' >&2; exit 4") << ""
                                          << 10000 << false << QByteArray() << "(exit code 4): no account for me";
        QTest::newRow("hangs") << QByteArray("echo started; exec sleep 60") << "" << 1000 << false << QByteArray()
                               << "did not finish within 1 seconds";
        QTest::newRow("prints 10 MB") << QByteArray("head -c 10485760 /dev/zero | tr '\\0' a") << "" << 10000 << false
                                      << QByteArray() << "printed more than 65536 bytes";
        QTest::newRow("words as a shell splits them, nothing expanded")
            << QByteArray("printf '%s|' \"$@\"") << " 'a b' \"\\$HOME \\\"q\\\"\" c\\ d $PATH" << 10000 << true
            << QByteArray("a b|$HOME \"q\"|c d|$PATH|") << "";
        QTest::newRow("a quote left open")
            << QByteArray("echo never") << " 'open" << 10000 << false << QByteArray() << "' is not closed";
    }
    void tokenCommand()
    {
        QFETCH(QByteArray, script);
        QFETCH(QString, arguments);
        QFETCH(int, timeoutMs);
        QTemporaryDir folder;
        QFile file(folder.filePath("helper"));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("#!/bin/sh\n" + script + "\n");
        file.close();
        file.setPermissions(QFile::ReadOwner | QFile::ExeOwner);

        std::optional<OAuthTransport::CommandResult> result;
        QElapsedTimer clock;
        clock.start();
        auto run =
            OAuthTransport::system().runCommand(file.fileName() + arguments, timeoutMs, OAuthTransport::kMaxReplyBytes,
                                                [&](const OAuthTransport::CommandResult& r) { result = r; });
        QTRY_VERIFY_WITH_TIMEOUT(result.has_value(), kWaitMs);
        QVERIFY2(clock.elapsed() < 10000, "a killed command ends at once");
        QTEST(result->succeeded, "succeeded");
        QTEST(result->output, "output");
        QFETCH(QString, error);
        QVERIFY2(result->error.contains(error), qPrintable(result->error));
    }

    // A command that cannot be started, and one given up while it runs: the latter calls nothing back.
    void tokenCommand_notStarted_orGivenUp()
    {
        std::optional<OAuthTransport::CommandResult> result;
        auto missing = OAuthTransport::system().runCommand("/nonexistent/helper --flag", 5000, 100,
                                                           [&](const OAuthTransport::CommandResult& r) { result = r; });
        QTRY_VERIFY_WITH_TIMEOUT(result.has_value(), kWaitMs);
        QVERIFY2(result->error.contains("\"/nonexistent/helper\" could not be started"), qPrintable(result->error));

        bool called = false;
        auto given = OAuthTransport::system().runCommand("/bin/sleep 30", 60000, 100,
                                                         [&](const OAuthTransport::CommandResult&) { called = true; });
        given.reset();
        QTest::qWait(200);
        QVERIFY(!called);
    }

    void tokenForm()
    {
        QProcess server;
        server.start("/usr/bin/python3",
                     {qEnvironmentVariable("SONDREL_SOURCE_DIR") + "/tests/mail/oauth_server.py", "client"});
        QVERIFY(server.waitForReadyRead(kWaitMs));
        const QString base = "http://127.0.0.1:" + QString::fromLatin1(server.readLine().trimmed());
        QTcpServer closed;
        QVERIFY(closed.listen(QHostAddress::LocalHost));
        const quint16 closedPort = closed.serverPort();
        closed.close();

        const auto post = [](const QString& url) {
            std::optional<OAuthTransport::FormReply> reply;
            auto operation = OAuthTransport::system().postForm(
                QUrl(url), "grant_type=refresh_token&refresh_token=gone&client_id=client", 10000,
                [&](const OAuthTransport::FormReply& r) { reply = r; });
            [&] { QTRY_VERIFY_WITH_TIMEOUT(reply.has_value(), kWaitMs); }();
            return reply.value_or(OAuthTransport::FormReply{});
        };
        const OAuthTransport::FormReply refused = post(base + "/token");
        QCOMPARE(refused.httpStatus, 400);
        QVERIFY(refused.body.contains("invalid_grant"));
        // Plain http goes nowhere but loopback: refused before any connection.
        const OAuthTransport::FormReply outside = post("http://192.0.2.1/token");
        QCOMPARE(outside.httpStatus, 0);
        QVERIFY(outside.networkError.contains("https"));
        const OAuthTransport::FormReply nobody = post(QStringLiteral("http://127.0.0.1:%1/token").arg(closedPort));
        QCOMPARE(nobody.httpStatus, 0);
        QVERIFY(!nobody.networkError.isEmpty());
        server.closeWriteChannel();
        QVERIFY(server.waitForFinished(kWaitMs));
    }

    void redirect_deliversTheQuery()
    {
        QUrlQuery received;
        QString error;
        auto listener = OAuthTransport::system().listenForRedirect([&](const QUrlQuery& q) { received = q; }, &error);
        QVERIFY2(listener, qPrintable(error));
        QCOMPARE(listener->redirectUri().host(), QStringLiteral("127.0.0.1"));
        QNetworkAccessManager browser;
        QNetworkReply* page =
            browser.get(QNetworkRequest(QUrl(listener->redirectUri().toString() + "?code=c%2F1&state=s")));
        QTRY_VERIFY_WITH_TIMEOUT(page->isFinished(), kWaitMs);
        QVERIFY(page->readAll().contains("You may close this page."));
        QCOMPARE(received.queryItemValue("code", QUrl::FullyDecoded), QStringLiteral("c/1"));
        QCOMPARE(received.queryItemValue("state"), QStringLiteral("s"));
        delete page;
    }
};

QTEST_MAIN(TestOAuthTransport)
#include "tst_oauthtransport.moc"
