#include "mail/SmtpSession.h"
#include "platform/QtTcpSocket.h"
#include "support/FakeSmtpServer.h"
#include "support/Fakes.h"

#include <QElapsedTimer>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QTimeZone>
#include <QTimer>

using namespace sondrel;
using namespace sondrel::mail;
using test::FakeSmtpServer;
using Outcome = SmtpSession::Outcome;

namespace {

const QList<FakeSmtpServer::Reply> kNormal = FakeSmtpServer::acceptingScript();

class CountingSockets final : public platform::TcpSocketFactory {
public:
    std::unique_ptr<platform::TcpSocket> create() override
    {
        ++created;
        return real.create();
    }
    platform::QtTcpSocketFactory real;
    int created = 0;
};

// One session over a real socket, with what it reported.
struct Exchange {
    explicit Exchange(const QString& host, const QString& text = "Body", int replyTimeoutMs = 10000)
    {
        clock.wallClock = QDateTime(QDate(2024, 3, 5), QTime(7, 8, 9), QTimeZone(3600));
        fields.host = host;
        fields.message = {"Ravelin", "me@example.org", "Ops", "ops@example.org", "Site down", text};
        session = std::make_unique<SmtpSession>(sockets, clock, [this] { return fields; });
        session->setReplyTimeout(replyTimeoutMs);
        QObject::connect(session.get(), &SmtpSession::finished, [this](const auto& result) { results.append(result); });
        QObject::connect(session.get(), &SmtpSession::replyHandled, [this] { ++replies; });
        session->start();
    }
    // The single result, once there.
    SmtpSession::Result result()
    {
        [&] { QTRY_COMPARE(results.size(), 1); }();
        return results.value(0);
    }
    test::FakeClock clock;
    CountingSockets sockets;
    SmtpFields fields;
    std::unique_ptr<SmtpSession> session;
    QList<SmtpSession::Result> results;
    int replies = 0;
};

QList<QByteArray> verbs(const QList<QByteArray>& commands)
{
    QList<QByteArray> names;
    for (const QByteArray& command : commands)
        names.append(command.left(4));
    return names;
}
const QList<QByteArray> kAllVerbs = {"HELO", "MAIL", "RCPT", "DATA", "From", "QUIT"};

} // namespace

class TestSmtpSession : public QObject {
    Q_OBJECT
private slots:
    void normalExchange()
    {
        FakeSmtpServer server(kNormal);
        Exchange exchange(" " + server.address() + " ");
        const SmtpSession::Result result = exchange.result();
        QCOMPARE(result.outcome, Outcome::Sent);
        QCOMPARE(result.text, QStringLiteral("221 bye\r\n"));
        QCOMPARE(exchange.replies, 7);
        QCOMPARE(server.commands.mid(0, 4), (QList<QByteArray>{"HELO me\r\n", "MAIL FROM:<me@example.org>\r\n",
                                                               "RCPT TO:<ops@example.org>\r\n", "DATA\r\n"}));
        const QByteArray data = server.commands.value(4);
        QVERIFY(data.startsWith("From:Ravelin <me@example.org>\r\nTo:Ops <ops@example.org>\r\nSubject:Site down\r\n"
                                "Date: Tue, 05 Mar 2024 07:08:09 +0100\r\nMessage-ID: <20240305060809000."));
        QVERIFY(data.endsWith("@example.org>\r\n\r\nBody\r\n\r\n\r\n.\r\n"));
        QCOMPARE(server.commands.value(5), QByteArray("QUIT\r\n"));
        QTRY_VERIFY(server.peerClosed);
        QCOMPARE(exchange.results.size(), 1);
    }

    void greetingWithAnotherCode_getsNoCommand()
    {
        FakeSmtpServer server({{"421 too busy\r\n"}});
        Exchange exchange(server.address());
        QCOMPARE(exchange.result().outcome, Outcome::ServerError);
        QCOMPARE(exchange.result().text, QStringLiteral("421 too busy\r\n"));
        QTRY_VERIFY(server.peerClosed);
        QVERIFY(server.commands.isEmpty());
    }

    void anyOfTheThreeCodesLeadsOn_andQuitAnswered250ClosesQuietly()
    {
        FakeSmtpServer server({{"220 ok\r\n"},
                               {"354 odd\r\n"},
                               {"220 odd\r\n"},
                               {"250 ok\r\n"},
                               {"354 go\r\n"},
                               {"250 ok\r\n"},
                               {"250 fine\r\n"}});
        Exchange exchange(server.address());
        QCOMPARE(exchange.result().outcome, Outcome::ClosedAfterQuit);
        QCOMPARE(verbs(server.commands), kAllVerbs);
        QTRY_VERIFY(server.peerClosed);
    }

    void repliesInPiecesAndOverSeveralLines_countOnce()
    {
        QList<FakeSmtpServer::Reply> script = kNormal;
        script[0] = {"22", "0-fake\r\n220-", "second\r\n", "220 ready\r\n"};
        script[1] = {"25", "0 hel", "lo\r\n"};
        FakeSmtpServer server(script);
        Exchange exchange(server.address());
        QCOMPARE(exchange.result().outcome, Outcome::Sent);
        QCOMPARE(verbs(server.commands), kAllVerbs);
    }

    // The message goes only to a server that asked for it with 354; 251 accepts a recipient.
    void dataAnsweredWithoutInvitation_sendsNoMessage_data()
    {
        QTest::addColumn<QByteArray>("rcptReply");
        QTest::addColumn<QByteArray>("dataReply");
        QTest::addColumn<int>("outcome");
        QTest::newRow("250 to DATA") << QByteArray("250 ok\r\n") << QByteArray("250 ok\r\n")
                                     << int(Outcome::ServerError);
        QTest::newRow("220 to DATA") << QByteArray("250 ok\r\n") << QByteArray("220 hi\r\n")
                                     << int(Outcome::ServerError);
        QTest::newRow("251 to RCPT") << QByteArray("251 will forward\r\n") << QByteArray("354 go\r\n")
                                     << int(Outcome::Sent);
    }
    void dataAnsweredWithoutInvitation_sendsNoMessage()
    {
        QFETCH(QByteArray, rcptReply);
        QFETCH(QByteArray, dataReply);
        QFETCH(int, outcome);
        QList<FakeSmtpServer::Reply> script = kNormal;
        script[3] = {rcptReply};
        script[4] = {dataReply};
        FakeSmtpServer server(script);
        Exchange exchange(server.address(), "RCPT TO:<victim@example.org>");
        QCOMPARE(int(exchange.result().outcome), outcome);
        QTRY_VERIFY(server.peerClosed);
        if (outcome == int(Outcome::ServerError)) {
            QCOMPARE(exchange.result().text, QString::fromLatin1(dataReply));
            QCOMPARE(verbs(server.commands), kAllVerbs.mid(0, 4));
        } else {
            QCOMPARE(verbs(server.commands), kAllVerbs);
        }
    }

    // A server that never ends its reply: the exchange ends with an error instead of keeping what it sends.
    void floodingServer_endsTheExchangeWithAnError_data()
    {
        QTest::addColumn<QByteArray>("flood");
        QTest::newRow("endless reply lines") << QByteArray("220-AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA\r\n");
        QTest::newRow("one endless line") << QByteArray(1000, 'A');
    }
    void floodingServer_endsTheExchangeWithAnError()
    {
        QFETCH(QByteArray, flood);
        QTcpServer server;
        QVERIFY(server.listen(QHostAddress::LocalHost, 0));
        QPointer<QTcpSocket> peer;
        QTimer pump; // keeps the peer's send queue topped up, for at most 20 seconds
        QElapsedTimer since;
        connect(&server, &QTcpServer::newConnection, this, [&] {
            peer = server.nextPendingConnection();
            since.start();
            pump.start(0);
        });
        connect(&pump, &QTimer::timeout, this, [&] {
            if (!peer || peer->state() != QAbstractSocket::ConnectedState || since.elapsed() > 20000) {
                pump.stop();
                return;
            }
            if (peer->bytesToWrite() < 256 * 1024)
                peer->write(flood.repeated(1000));
        });
        Exchange exchange(QStringLiteral("127.0.0.1:%1").arg(server.serverPort()));
        QCOMPARE(exchange.result().outcome, Outcome::ServerError);
        QCOMPARE(exchange.result().text, QStringLiteral("The server's reply was too long."));
        QTRY_VERIFY(!peer || peer->state() != QAbstractSocket::ConnectedState || !pump.isActive());
    }

    void silentServer_timesOut()
    {
        FakeSmtpServer server({{"220 ok\r\n"}});
        Exchange exchange(server.address(), "Body", 300);
        QCOMPARE(exchange.result().outcome, Outcome::SocketError);
        QCOMPARE(exchange.result().errorNumber, 10060);
        QCOMPARE(server.commands.size(), 1);
        QTRY_VERIFY(server.peerClosed);
    }

    void socketFailures_data()
    {
        QTest::addColumn<int>("number");
        QTest::newRow("server closes mid-dialogue") << 10054;
        QTest::newRow("connection refused") << 10061;
        QTest::newRow("bad port") << 10049;
    }
    void socketFailures()
    {
        QFETCH(int, number);
        FakeSmtpServer server(kNormal);
        server.closeAfterCommands = 2;
        QString host = server.address();
        if (number == 10061) {
            QTcpServer closed;
            QVERIFY(closed.listen(QHostAddress::LocalHost, 0));
            host = QStringLiteral("127.0.0.1:%1").arg(closed.serverPort());
        } else if (number == 10049) {
            host = QStringLiteral("127.0.0.1:99999");
        }
        Exchange exchange(host);
        QCOMPARE(exchange.result().outcome, Outcome::SocketError);
        QCOMPARE(exchange.result().errorNumber, number);
        QVERIFY(!exchange.result().text.isEmpty());
        QCOMPARE(exchange.sockets.created, number == 10049 ? 0 : 1);
    }

    void messageIsTransparentOnTheWire()
    {
        FakeSmtpServer server(kNormal);
        Exchange exchange(server.address(), "first\n.\n.second\rthird\r\n..fourth\n.");
        QCOMPARE(exchange.result().outcome, Outcome::Sent);
        const QByteArray data = server.commands.value(4);
        QCOMPARE(data.mid(data.indexOf("\r\n\r\n") + 4),
                 QByteArray("first\r\n..\r\n..second\r\nthird\r\n...fourth\r\n..\r\n\r\n\r\n.\r\n"));
    }

    void destroyedMidExchange_closesSilently()
    {
        FakeSmtpServer server({{"220 ok\r\n"}});
        auto exchange = std::make_unique<Exchange>(server.address());
        QTRY_COMPARE(server.commands.size(), 1);
        exchange->session.reset();
        QTRY_VERIFY(server.peerClosed);
        QVERIFY(exchange->results.isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestSmtpSession)
#include "tst_smtpsession.moc"
