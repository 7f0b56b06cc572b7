#include "probe/PageCheck.h"

#include "platform/QtHttpClient.h"
#include "support/Fakes.h"
#include "support/MiniHttpServer.h"

#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace sondrel::probe;
using namespace sondrel::test;
using namespace std::chrono_literals;

namespace {

struct Outcome {
    QString token;
    int calls = 0;
};

// Starts a check; what it reports is filled in later.
std::shared_ptr<Outcome> startCheck(PageCheck& page, const QString& address, const QString& text)
{
    auto outcome = std::make_shared<Outcome>();
    page.gethtml(address, text, [outcome](const QString& token) {
        outcome->token = token;
        ++outcome->calls;
    });
    return outcome;
}

// Runs a check to its report, waiting at most timeoutMs.
Outcome runCheck(PageCheck& page, const QString& address, const QString& text, int timeoutMs = 10000)
{
    const auto outcome = startCheck(page, address, text);
    if (!QTest::qWaitFor([&] { return outcome->calls > 0; }, timeoutMs))
        outcome->token = QStringLiteral("no report in time");
    return *outcome;
}

} // namespace

class TestPageCheck : public QObject {
    Q_OBJECT
private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        const QString script = qEnvironmentVariable("SONDREL_SOURCE_DIR") + "/tests/probe/page_server.py";
        QSignalSpy ready(&m_server, &QProcess::readyReadStandardOutput);
        m_server.start(QStringLiteral("python3"), {script});
        while (!m_server.canReadLine())
            QVERIFY2(ready.wait(10000), "the page server did not start");
        const QByteArray line = m_server.readLine().trimmed();
        QVERIFY2(line.startsWith("PORT "), line.constData());
        m_port = line.mid(5).toInt();
    }
    void cleanupTestCase()
    {
        QSignalSpy ended(&m_server, &QProcess::finished);
        m_server.kill();
        QVERIFY(ended.wait(5000));
    }

    void servedPages_giveTheirTokens_data()
    {
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("token");
        QTest::newRow("other letter case") << "http://127.0.0.1:%1/case"
                                           << "welcome TO THE status page" << kTokenOk;
        QTest::newRow("text missing") << "http://127.0.0.1:%1/case"
                                      << "Goodbye" << kTokenNotFound;
        QTest::newRow("empty body") << "http://127.0.0.1:%1/empty"
                                    << "anything" << kTokenNotFound;
        QTest::newRow("404 page with the text") << "http://127.0.0.1:%1/missing"
                                                << "page not found" << kTokenOk;
        QTest::newRow("500 page without it") << "http://127.0.0.1:%1/broken"
                                             << "all good" << kTokenNotFound;
        QTest::newRow("redirect followed") << "http://127.0.0.1:%1/redirect"
                                           << "Welcome" << kTokenOk;
        QTest::newRow("blank at a read boundary") << "http://127.0.0.1:%1/boundary"
                                                  << "sondrel monitor" << kTokenOk;
        QTest::newRow("UTF-8 character split") << "http://127.0.0.1:%1/split-utf8"
                                               << "KÖLN" << kTokenOk;
        QTest::newRow("sharp s as double s") << "http://127.0.0.1:%1/split-utf8"
                                             << "GRÜSSE" << kTokenOk;
        QTest::newRow("bytes that are not UTF-8") << "http://127.0.0.1:%1/cp1252"
                                                  << "CAFÉ OLÉ €" << kTokenOk;
        QTest::newRow("declared charset") << "http://127.0.0.1:%1/koi8"
                                          << "ПРИВЕТ, МИР" << kTokenOk;
        QTest::newRow("typed without scheme, blanks around") << "  127.0.0.1:%1/case  "
                                                             << "   status page   " << kTokenOk;
    }
    void servedPages_giveTheirTokens()
    {
        QFETCH(QString, address);
        QFETCH(QString, text);
        QFETCH(QString, token);
        QtHttpClient http;
        PageCheck page(http);
        const Outcome outcome = runCheck(page, address.arg(m_port), text);
        QCOMPARE(outcome.token, token);
        QCOMPARE(outcome.calls, 1);
        QVERIFY(page.pageDone());
        QVERIFY(!page.pageFailed());
    }

    void pageText_isTheEndOfThePageWithoutItsSurroundingSpaces()
    {
        QtHttpClient http;
        PageCheck page(http);
        QCOMPARE(runCheck(page, QStringLiteral("127.0.0.1:%1/spaces").arg(m_port), "a text longer than the page").token,
                 kTokenNotFound);
        QCOMPARE(page.pageText(), u"Hello there"_qs);
        QCOMPARE(runCheck(page, QStringLiteral("127.0.0.1:%1/empty").arg(m_port), "x").token, kTokenNotFound);
        QCOMPARE(page.pageText(), QString());
    }

    void transportErrors_giveFailed_data()
    {
        QTest::addColumn<QString>("script");
        QTest::newRow("refused") << "refused";
        QTest::newRow("reset before the response") << "reset";
        QTest::newRow("reset after part of a body with the text") << "partial";
    }
    void transportErrors_giveFailed()
    {
        QFETCH(QString, script);
        MiniHttpServer server;
        server.onRequest = [&](QTcpSocket* socket, const QByteArray&) {
            if (script == u"partial") {
                socket->write("HTTP/1.1 200 OK\r\nContent-Length: 1000\r\n\r\nthe wanted text");
                socket->flush();
            }
            socket->abort();
        };
        const QString address = script == u"refused" ? QStringLiteral("http://127.0.0.1:%1/").arg(unusedLoopbackPort())
                                                     : server.url().toString();
        QtHttpClient http;
        PageCheck page(http);
        QCOMPARE(runCheck(page, address, "wanted").token, kTokenFailed);
        QVERIFY(page.pageFailed());
        QVERIFY(!page.pageDone());
    }

    void silentServer_timesOut_andTheRequestIsAborted()
    {
        MiniHttpServer server;
        QtHttpClient http;
        PageCheck page(http, 300ms);
        QCOMPARE(runCheck(page, server.url().toString(), "x").token, kTokenTimedOut);
        QVERIFY(page.pageFailed());
        QVERIFY(!page.pageDone());
        QTRY_COMPARE_WITH_TIMEOUT(server.disconnects, 1, 5000);
    }

    void lateResponse_changesNothing_andTheNextCheckReportsItsOwn()
    {
        MiniHttpServer server;
        bool lateAnswerSent = false;
        server.onRequest = [&](QTcpSocket* socket, const QByteArray& head) {
            const QByteArray reply = MiniHttpServer::response("200 OK", "the late text");
            if (!head.startsWith("GET /late "))
                return void(socket->write(MiniHttpServer::response("200 OK", "fresh page")));
            QTimer::singleShot(600, socket, [socket, reply, &lateAnswerSent] {
                socket->write(reply);
                lateAnswerSent = true;
            });
        };
        QtHttpClient http;
        PageCheck page(http, 300ms);
        const auto late = startCheck(page, server.url("/late").toString(), "late text");
        QTRY_COMPARE_WITH_TIMEOUT(late->calls, 1, 5000);
        QCOMPARE(late->token, kTokenTimedOut);
        QTRY_VERIFY_WITH_TIMEOUT(lateAnswerSent || server.disconnects > 0, 5000);

        const Outcome next = runCheck(page, server.url("/fresh").toString(), "fresh page");
        QCOMPARE(next.token, kTokenOk);
        QCOMPARE(late->calls, 1);
        QCOMPARE(page.pageText(), u"fresh page"_qs);
    }

    void addressesThatAreNotHttp_failWithoutARequest_data()
    {
        QTest::addColumn<QString>("address");
        QTest::newRow("file") << "file:///etc/hostname";
        QTest::newRow("local path") << "/etc/hostname";
        QTest::newRow("ftp") << "ftp://127.0.0.1/";
        QTest::newRow("blanks") << "   ";
    }
    void addressesThatAreNotHttp_failWithoutARequest()
    {
        QFETCH(QString, address);
        FakeHttpClient http;
        PageCheck page(http);
        const auto outcome = startCheck(page, address, "x");
        QCOMPARE(outcome->calls, 0);
        QTRY_COMPARE(outcome->calls, 1);
        QCOMPARE(outcome->token, kTokenFailed);
        QVERIFY(http.requested.isEmpty());
    }

    void cancelledOrDestroyedChecks_neverReport()
    {
        FakeHttpClient http;
        http.body = "text";
        PageCheck cancelled(http);
        auto destroyed = std::make_unique<PageCheck>(http);
        PageCheck witness(http);
        const auto a = startCheck(cancelled, "127.0.0.1", "text");
        const auto b = startCheck(*destroyed, "127.0.0.1", "text");
        const auto c = startCheck(witness, "127.0.0.1", "text");
        cancelled.cancel();
        destroyed.reset();
        // The fake answers in order, so once the last check has its answer the others would have theirs.
        QTRY_COMPARE(c->calls, 1);
        QCOMPARE(a->calls + b->calls, 0);
    }

    void nextCheckMayStartFromTheReport()
    {
        MiniHttpServer server;
        server.onRequest = [](QTcpSocket* socket, const QByteArray& head) {
            socket->write(MiniHttpServer::response("200 OK", head.startsWith("GET /one ") ? "one" : "two"));
        };
        QtHttpClient http;
        PageCheck page(http);
        QStringList tokens;
        page.gethtml(server.url("/one").toString(), "one", [&](const QString& first) {
            tokens << first;
            page.gethtml(server.url("/two").toString(), "one", [&](const QString& second) { tokens << second; });
        });
        QTRY_COMPARE_WITH_TIMEOUT(tokens, QStringList({kTokenOk, kTokenNotFound}), 10000);
    }

private:
    QTemporaryDir m_dir;
    QProcess m_server;
    int m_port = 0;
};

QTEST_GUILESS_MAIN(TestPageCheck)
#include "tst_pagecheck.moc"
