#include "core/NotificationQueue.h"
#include "mail/EmailSettings.h"
#include "platform/QtTcpSocket.h"
#include "store/LogFormat.h"
#include "support/FakeSmtpServer.h"
#include "support/Fakes.h"
#include "support/ProgramFolder.h"

#include <QFile>
#include <QSignalSpy>
#include <QTest>

using namespace sondrel;
using core::MailDelivery;
using core::NotificationQueue;
using test::FakeSmtpServer;

namespace {

const QList<FakeSmtpServer::Reply> kNormal = FakeSmtpServer::acceptingScript();

} // namespace

// The run's notifications: each one runs to its own end, one after the other, whatever the run does.
class TestNotificationQueue : public QObject {
    Q_OBJECT
private:
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<test::FakeSystem> m_fakes;
    platform::QtTcpSocketFactory m_sockets;

    void store(const QString& host, qint16 delay, bool attach = false)
    {
        QVERIFY(mail::EmailSettingsFile(m_dir->path())
                    .save({host, "Watcher", "me@example.org", "Ops", "ops@example.org", "Site status", "Stored text",
                           qint16(attach ? -1 : 0), delay}));
    }
    std::unique_ptr<NotificationQueue> queue()
    {
        auto notifications = std::make_unique<NotificationQueue>(m_fakes->services(), m_dir->path());
        notifications->setReplyTimeout(5000);
        return notifications;
    }

private slots:
    void init()
    {
        m_dir = test::newProgramFolder();
        QVERIFY(m_dir->isValid());
        m_fakes = std::make_unique<test::FakeSystem>();
        m_fakes->tcp = &m_sockets;
    }

    // With no disconnect delay the run goes on once the greeting is answered; the dialogue still runs to
    // the server's last reply, and the e-mail is sent.
    void delayZero_runGoesOnAtTheGreeting_theDialogueToItsEnd()
    {
        QList<FakeSmtpServer::Reply> script = kNormal;
        script[1] = {"", "", "", "250 slow hello\r\n"};
        FakeSmtpServer server(script);
        store(server.address(), 0);
        auto notifications = queue();
        QSignalSpy delivered(notifications.get(), &NotificationQueue::delivered);
        qsizetype commandsWhenRunWentOn = -1;
        notifications->notify("000001", [&] { commandsWhenRunWentOn = server.commands.size(); });
        QTRY_VERIFY(commandsWhenRunWentOn >= 0);
        QVERIFY(commandsWhenRunWentOn <= 1); // at most HELO
        QTRY_COMPARE(delivered.size(), 1);
        QCOMPARE(server.commands.size(), 6);
        QCOMPARE(delivered[0][0].value<MailDelivery::Result>().outcome, MailDelivery::Outcome::Sent);
        QTRY_VERIFY(notifications->isIdle());
        QVERIFY(m_fakes->messages.shown.isEmpty());
    }

    void delay_runGoesOnAfterTheLastReply()
    {
        FakeSmtpServer server(kNormal);
        store(server.address(), 1);
        auto notifications = queue();
        bool closedWhenRunWentOn = false;
        bool wentOn = false;
        notifications->notify("000001", [&] {
            wentOn = true;
            closedWhenRunWentOn = server.peerClosed;
        });
        QTRY_VERIFY_WITH_TIMEOUT(wentOn, 10000);
        QVERIFY(closedWhenRunWentOn);
        QCOMPARE(server.commands.size(), 6);
    }

    // A second notification waits for the first to end; the run does not wait for it.
    void decidedWhileAnotherIsUnderWay_isSentAfterIt()
    {
        QFile log(m_dir->path() + "/logs/tmp.log");
        QVERIFY(log.open(QIODevice::WriteOnly));
        log.write(store::encodeLogRecord("000001 first line") + store::encodeLogRecord("000002 second line"));
        log.close();
        QList<FakeSmtpServer::Reply> script = kNormal;
        script[3] = {"", "", "", "", "", "250 ok\r\n"}; // RCPT answered slowly
        FakeSmtpServer server(script);
        store(server.address(), 0, true);
        auto notifications = queue();
        int wentOn = 0;
        notifications->notify("000001", [&] { ++wentOn; });
        QTRY_COMPARE(server.commands.size(), 3);
        notifications->notify("000002", [&] { ++wentOn; });
        QTRY_COMPARE(wentOn, 2);
        QCOMPARE(server.connections, 1); // the first is still under way
        QTRY_COMPARE_WITH_TIMEOUT(server.commands.size(), 12, 10000);
        QCOMPARE(server.connections, 2);
        QVERIFY(server.commands[4].contains("first line") && !server.commands[4].contains("second line"));
        QVERIFY(server.commands[10].contains("first line") && server.commands[10].contains("second line"));
        QTRY_VERIFY(notifications->isIdle());
    }

    void destroyedMidExchange_closesWithoutCallbacks()
    {
        FakeSmtpServer server({{"220 ok\r\n"}});
        store(server.address(), 5);
        auto notifications = queue();
        QSignalSpy delivered(notifications.get(), &NotificationQueue::delivered);
        bool wentOn = false;
        notifications->notify("000001", [&] { wentOn = true; });
        QTRY_COMPARE(server.commands.size(), 1);
        notifications.reset();
        QTRY_VERIFY(server.peerClosed);
        QVERIFY(!wentOn);
        QCOMPARE(delivered.size(), 0);
    }

    void nothingToSendWith_runGoesOnSilently_data()
    {
        QTest::addColumn<bool>("noSettingsFile");
        QTest::addColumn<bool>("noConnection");
        QTest::newRow("settings cannot be read") << true << false;
        QTest::newRow("no connection") << false << true;
    }
    void nothingToSendWith_runGoesOnSilently()
    {
        QFETCH(bool, noSettingsFile);
        QFETCH(bool, noConnection);
        FakeSmtpServer server(kNormal);
        store(server.address(), 5);
        if (noSettingsFile)
            QVERIFY(QDir(m_dir->path() + "/data").removeRecursively());
        m_fakes->connection.connectResult = !noConnection;
        auto notifications = queue();
        bool wentOn = false;
        notifications->notify("000001", [&] { wentOn = true; });
        QTRY_VERIFY(wentOn);
        QTRY_VERIFY(notifications->isIdle());
        QCOMPARE(server.connections, 0);
        QVERIFY(m_fakes->messages.shown.isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestNotificationQueue)
#include "tst_notificationqueue.moc"
