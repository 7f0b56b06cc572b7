#include "core/DeliveryRetry.h"
#include "core/NotificationQueue.h"
#include "core/Outbox.h"
#include "mail/EmailSettings.h"
#include "platform/QtTcpSocket.h"
#include "store/LogFormat.h"
#include "support/FakeSmtpServer.h"
#include "support/Fakes.h"
#include "support/MiniHttpServer.h"
#include "support/ProgramFolder.h"
#include "support/SmtpSink.h"
#include "support/TestCertificates.h"

#include <QFile>
#include <QSignalSpy>
#include <QTest>

#include <climits>
#include <sys/stat.h>
#include <unistd.h>

using namespace sondrel;
using core::MailDelivery;
using core::NotificationQueue;
using test::FakeSmtpServer;
using Outcome = mail::SmtpSession::Outcome;

namespace {

const QList<FakeSmtpServer::Reply> kNormal = FakeSmtpServer::acceptingScript();

QStringList outboxFiles(const QString& programFolder, const QString& pattern = QStringLiteral("*.json"))
{
    return QDir(programFolder + "/data/outbox").entryList({pattern}, QDir::Files);
}

core::OutboxEntry waitingEntryFor(const QString& host)
{
    core::OutboxEntry entry;
    entry.fields.host = host;
    entry.fields.message = {"Watcher", "me@example.org", "Ops", "ops@example.org", "Waiting", "Kept text"};
    entry.firstAttempt = entry.nextAttempt = QDateTime::currentDateTime().addSecs(-120);
    entry.attempts = 1;
    entry.lastError = "Connection refused";
    return entry;
}

// Ends the test program should a call block: a FIFO opened for reading waits for a writer for ever.
class Watchdog {
public:
    explicit Watchdog(unsigned seconds) { ::alarm(seconds); }
    ~Watchdog() { ::alarm(0); }
};

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
        notifications->setRetryCheckInterval(20);
        return notifications;
    }
    // The one entry waiting in the outbox, read from its file.
    core::OutboxEntry waitingEntry()
    {
        const auto contents = core::Outbox(m_dir->path()).load();
        if (contents.entries.size() != 1)
            return {};
        return contents.entries.front().entry;
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

    // However the exchange ends, the attempt ends as well, so that what waits for it (the run, the e-mail window's
    // button) goes on: after the disconnect delay when a reply was dealt with, at once otherwise.
    void everyWayAnExchangeEnds_endsTheAttempt_data()
    {
        QTest::addColumn<QString>("peer");
        QTest::addColumn<int>("outcome");
        QTest::newRow("sent") << "accepting" << int(Outcome::Sent);
        QTest::newRow("refused") << "421 greeting" << int(Outcome::ServerError);
        QTest::newRow("greeting line too long") << "long greeting" << int(Outcome::ServerError);
        QTest::newRow("greeting of too many lines") << "many greeting lines" << int(Outcome::ServerError);
        QTest::newRow("reply too long after the greeting") << "long hello" << int(Outcome::ServerError);
        QTest::newRow("socket error") << "closes" << int(Outcome::SocketError);
        QTest::newRow("silence") << "silent" << int(Outcome::SocketError);
        QTest::newRow("certificate") << "untrusted certificate" << int(Outcome::CertificateRejected);
        QTest::newRow("no connection") << "no connection" << int(Outcome::NoConnection);
    }
    void everyWayAnExchangeEnds_endsTheAttempt()
    {
        QFETCH(QString, peer);
        QFETCH(int, outcome);
        QList<FakeSmtpServer::Reply> script = kNormal;
        if (peer == "421 greeting")
            script = {{"421 too busy\r\n"}};
        else if (peer == "long greeting")
            script = {{"220 " + QByteArray(5000, 'A') + "\r\n"}};
        else if (peer == "many greeting lines")
            script = {{QByteArray("220-AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA\r\n").repeated(2000)}};
        else if (peer == "long hello")
            script[1] = {"250 " + QByteArray(5000, 'A') + "\r\n"};
        else if (peer == "silent")
            script = {{"220 ok\r\n"}};
        FakeSmtpServer server(script);
        if (peer == "closes")
            server.closeAfterCommands = 1;
        if (peer == "no connection")
            m_fakes->connection.connectResult = false;
        mail::SmtpFields fields;
        fields.host = server.address();
        fields.message = {"Watcher", "me@example.org", "Ops", "ops@example.org", "Site status", "Text"};
        test::TestCertificates certificates;
        test::SmtpSink sink;
        if (peer == "untrusted certificate") {
            const QString noCertificates = certificates.make();
            if (!noCertificates.isEmpty())
                QSKIP(qPrintable(noCertificates));
            const QString noServer =
                sink.start(0, {"--implicit-tls", certificates.file("bridge.pem"), certificates.file("bridge.key")});
            if (!noServer.isEmpty())
                QSKIP(qPrintable(noServer));
            fields.host = sink.host();
            fields.security = mail::SmtpSecurity::ImplicitTls;
        }
        MailDelivery delivery(
            m_fakes->services(), [&] { return fields; }, [] { return 0.3; });
        delivery.setReplyTimeout(peer == "silent" ? 300 : 5000);
        QSignalSpy exchange(&delivery, &MailDelivery::exchangeEnded);
        QSignalSpy attempt(&delivery, &MailDelivery::attemptEnded);
        delivery.start();
        QVERIFY(exchange.wait(15000));
        QCOMPARE(int(exchange[0][0].value<MailDelivery::Result>().outcome), outcome);
        QVERIFY(attempt.size() == 1 || attempt.wait(15000));
        QVERIFY(delivery.attemptOver());
        QCOMPARE(attempt.size(), 1);
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
        QCOMPARE(outboxFiles(m_dir->path(), "*").size(), 1); // kept once, to be tried again
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

    void deliveryVerdict_data()
    {
        QTest::addColumn<int>("outcome");
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("errorNumber");
        QTest::addColumn<int>("verdict");
        const int sent = int(core::DeliveryVerdict::Sent);
        const int again = int(core::DeliveryVerdict::TryAgain);
        const int giveUp = int(core::DeliveryVerdict::GiveUp);
        QTest::newRow("sent") << int(Outcome::Sent) << "221 Bye" << 0 << sent;
        QTest::newRow("closed after QUIT") << int(Outcome::ClosedAfterQuit) << "250 ok" << 0 << sent;
        QTest::newRow("refused connection") << int(Outcome::SocketError) << "Connection refused" << 10061 << again;
        QTest::newRow("silence") << int(Outcome::SocketError) << "Timed out" << 10060 << again;
        QTest::newRow("no internet") << int(Outcome::NoConnection) << "" << 0 << again;
        QTest::newRow("421") << int(Outcome::ServerError) << "421 Service not available\r\n" << 0 << again;
        QTest::newRow("451 multi-line") << int(Outcome::ServerError) << "451-Try\r\n451 later\r\n" << 0 << again;
        QTest::newRow("452") << int(Outcome::ServerError) << "452 4.3.1 Full" << 0 << again;
        QTest::newRow("550") << int(Outcome::ServerError) << "550 5.1.1 No such mailbox" << 0 << giveUp;
        QTest::newRow("554") << int(Outcome::ServerError) << "554 No" << 0 << giveUp;
        QTest::newRow("own text") << int(Outcome::ServerError) << "The server offers no login" << 0 << giveUp;
        QTest::newRow("4 digits") << int(Outcome::ServerError) << "4210 odd" << 0 << giveUp;
        QTest::newRow("certificate") << int(Outcome::CertificateRejected) << "expired" << 0 << giveUp;
        QTest::newRow("bad port") << int(Outcome::SocketError) << "Invalid port" << 10049 << giveUp;
    }
    void deliveryVerdict()
    {
        QFETCH(int, outcome);
        QFETCH(QString, text);
        QFETCH(int, errorNumber);
        QFETCH(int, verdict);
        QCOMPARE(int(core::deliveryVerdict({Outcome(outcome), text, errorNumber})), verdict);
    }

    // The server refuses the first two connections with 421; the message is tried again after one and then two
    // minutes of the wall clock, and arrives once. With restart, the queue is destroyed after each failure and a
    // new one on the same program folder takes the message up.
    void temporaryRefusals_triedAgainWithBackoff_arriveOnce_data()
    {
        QTest::addColumn<bool>("restart");
        QTest::newRow("same queue") << false;
        QTest::newRow("restarted after each failure") << true;
    }
    void temporaryRefusals_triedAgainWithBackoff_arriveOnce()
    {
        QFETCH(bool, restart);
        test::SmtpSink sink;
        const QString noServer = sink.start(0, {"--refuse-connections", "2", "421 Service not available"});
        if (!noServer.isEmpty())
            QSKIP(qPrintable(noServer));
        store(sink.host(), 0);
        const QDateTime start = QDateTime::currentDateTime();
        m_fakes->clock.wallClock = start;
        auto notifications = queue();
        auto changed = std::make_unique<QSignalSpy>(notifications.get(), &NotificationQueue::outboxChanged);
        bool wentOn = false;
        notifications->notify("000001", [&] { wentOn = true; });
        QTRY_VERIFY(wentOn);
        QTRY_COMPARE(notifications->waitingCount(), 1);
        QCOMPARE(changed->last()[1].toString(), QStringLiteral("421 Service not available"));
        QCOMPARE(core::outboxStatusText(1, notifications->lastError()),
                 QStringLiteral("1 notification waiting to be sent; last error: 421 Service not available"));
        const QStringList files = outboxFiles(m_dir->path());
        QCOMPARE(files.size(), 1);
        const QFileDevice::Permissions others =
            QFileDevice::ReadGroup | QFileDevice::WriteGroup | QFileDevice::ReadOther | QFileDevice::WriteOther;
        QCOMPARE(QFile::permissions(m_dir->path() + "/data/outbox/" + files[0]) & others, QFileDevice::Permissions{});
        core::OutboxEntry entry = waitingEntry();
        QCOMPARE(entry.attempts, 1);
        QCOMPARE(entry.nextAttempt, start.addSecs(60));
        QCOMPARE(entry.fields.message.recipientAddress, QStringLiteral("ops@example.org"));

        const auto reopen = [&] {
            if (restart) {
                notifications.reset();
                notifications = queue();
                changed = std::make_unique<QSignalSpy>(notifications.get(), &NotificationQueue::outboxChanged);
                QCOMPARE(notifications->waitingCount(), 1);
            }
        };
        reopen();
        m_fakes->clock.wallClock = start.addSecs(59);
        QTRY_VERIFY(waitingEntry().attempts == 1 && notifications->isIdle()); // not due yet
        m_fakes->clock.wallClock = start.addSecs(61);
        QTRY_COMPARE(waitingEntry().attempts, 2);
        entry = waitingEntry();
        QCOMPARE(entry.nextAttempt, start.addSecs(61 + 120));
        QCOMPARE(entry.firstAttempt, start);
        QCOMPARE(sink.messages().size(), 0);

        reopen();
        m_fakes->clock.wallClock = start.addSecs(61 + 121);
        QTRY_COMPARE(notifications->waitingCount(), 0);
        QCOMPARE(sink.messages().size(), 1);
        QVERIFY(sink.messages()[0].contains("Stored text"));
        QVERIFY(outboxFiles(m_dir->path(), "*").isEmpty());
        QCOMPARE(changed->last()[0].toInt(), 0);
    }

    // Once a later notification gets through, the one still waiting for its retry time goes at once.
    void laterNotificationSent_waitingOneFollowsAtOnce()
    {
        test::SmtpSink sink;
        const QString noServer = sink.start(0, {"--refuse-connections", "1", "421 Service not available"});
        if (!noServer.isEmpty())
            QSKIP(qPrintable(noServer));
        store(sink.host(), 0);
        m_fakes->clock.wallClock = QDateTime::currentDateTime();
        auto notifications = queue();
        notifications->notify("000001", [] {});
        QTRY_COMPARE(notifications->waitingCount(), 1);
        notifications->notify("000002", [] {});
        QTRY_COMPARE(sink.messages().size(), 2);
        QTRY_COMPARE(notifications->waitingCount(), 0);
    }

    // A 5xx is final: nothing is kept, and the note says why.
    void permanentRefusal_notTriedAgain()
    {
        test::SmtpSink sink;
        const QString noServer = sink.start(0, {"--refuse", "ops@example.org"});
        if (!noServer.isEmpty())
            QSKIP(qPrintable(noServer));
        store(sink.host(), 0);
        auto notifications = queue();
        QSignalSpy notes(notifications.get(), &NotificationQueue::outboxNote);
        QSignalSpy delivered(notifications.get(), &NotificationQueue::delivered);
        notifications->notify("000001", [] {});
        QTRY_COMPARE(delivered.size(), 1);
        QCOMPARE(notes.size(), 1);
        QCOMPARE(notes[0][0].toString(), QStringLiteral("A notification could not be sent and will not be tried "
                                                        "again: 550 5.1.1 No such mailbox here"));
        QCOMPARE(notifications->waitingCount(), 0);
        QVERIFY(notifications->lastError().startsWith("550"));
        QVERIFY(outboxFiles(m_dir->path(), "*").isEmpty());
        QVERIFY(sink.messages().isEmpty());
    }

    // A file that cannot be decoded is renamed aside with a note; the readable one beside it is still sent, and
    // the password never reaches the file.
    void damagedOutboxFile_setAside_othersStillSent()
    {
        FakeSmtpServer server(kNormal);
        core::OutboxEntry entry;
        entry.fields.host = server.address();
        entry.fields.message = {"Watcher", "me@example.org", "Ops", "ops@example.org", "Waiting", "Kept text"};
        entry.fields.password = "hunter2";
        entry.fields.login = mail::LoginMethod::OAuth2;
        entry.fields.accessToken = "ya29.token";
        entry.fields.trustedCertificate = QByteArray("\x30\x82\x01", 3);
        entry.firstAttempt = entry.nextAttempt = QDateTime::currentDateTime().addSecs(-120);
        entry.attempts = 1;
        entry.lastError = "Connection refused";
        const QByteArray bytes = core::encodeOutboxEntry(entry);
        QVERIFY(!bytes.contains("hunter2") && !bytes.contains("ya29"));
        const auto decoded = core::decodeOutboxEntry(bytes);
        QVERIFY(decoded);
        QCOMPARE(decoded->fields.login, mail::LoginMethod::OAuth2);
        QVERIFY(!core::decodeOutboxEntry(QByteArray(bytes).replace("\"OAuth2\"", "\"Kerberos\"")));
        QCOMPARE(decoded->fields.trustedCertificate, entry.fields.trustedCertificate);
        QCOMPARE(decoded->fields.message.text, QStringLiteral("Kept text"));
        QVERIFY(decoded->fields.password.isEmpty());
        QVERIFY(!core::decodeOutboxEntry(QByteArray(bytes).replace("\"attempts\"", "\"tries\"")));

        const core::Outbox outbox(m_dir->path());
        QVERIFY(outbox.save(outbox.newPath(entry.firstAttempt), entry));
        QFile damaged(outbox.folder() + "/broken.json");
        QVERIFY(damaged.open(QIODevice::WriteOnly));
        damaged.write(bytes.left(bytes.size() / 2));
        damaged.close();

        auto notifications = queue();
        QSignalSpy notes(notifications.get(), &NotificationQueue::outboxNote);
        QCOMPARE(notifications->waitingCount(), 1);
        QTRY_COMPARE(notes.size(), 1);
        QVERIFY2(notes[0][0].toString().contains("broken.json.damaged"), qPrintable(notes[0][0].toString()));
        QTRY_COMPARE(notifications->waitingCount(), 0);
        QCOMPARE(server.connections, 1);
        QVERIFY(server.commands.join("").contains("Kept text"));
        QCOMPARE(outboxFiles(m_dir->path(), "*"), QStringList{"broken.json.damaged"});
    }
    // Only a regular file is read as a waiting notification, and never more of it than an entry can hold: a link to
    // a device, a FIFO or a folder is left where it is with a note, an oversized file is set aside; the entry
    // beside them is still taken up.
    void outboxEntryThatIsNoFile_isNotRead_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<bool>("left");
        QTest::newRow("link to /dev/zero") << "symlink" << true;
        QTest::newRow("FIFO") << "fifo" << true;
        QTest::newRow("folder") << "folder" << true;
        QTest::newRow("oversized sparse file") << "oversized" << false;
    }
    void outboxEntryThatIsNoFile_isNotRead()
    {
        QFETCH(QString, kind);
        QFETCH(bool, left);
        const core::Outbox outbox(m_dir->path());
        const core::OutboxEntry entry = waitingEntryFor("127.0.0.1:25");
        QVERIFY(outbox.save(outbox.newPath(entry.firstAttempt), entry));
        const QString path = outbox.folder() + "/x.json";
        const QByteArray name = QFile::encodeName(path);
        if (kind == "symlink") {
            QVERIFY(QFile::link("/dev/zero", path));
        } else if (kind == "fifo") {
            QCOMPARE(::mkfifo(name.constData(), 0600), 0);
        } else if (kind == "folder") {
            QVERIFY(QDir(outbox.folder()).mkdir("x.json"));
        } else {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            QVERIFY(file.resize(qint64(64) * 1024 * 1024 + 1));
        }

        core::Outbox::Contents contents;
        {
            const Watchdog watchdog(10);
            contents = outbox.load();
        }
        QCOMPARE(contents.entries.size(), size_t(1));
        QCOMPARE(contents.entries.front().entry.fields.message.text, QStringLiteral("Kept text"));
        QCOMPARE(contents.notes.size(), 1);
        QVERIFY2(contents.notes[0].contains(path), qPrintable(contents.notes[0]));
        struct stat status {};
        QCOMPARE(::lstat(name.constData(), &status) == 0, left);
    }

    // Every number in an outbox file is bounded: however many attempts it claims, the next delay is one of the
    // retry delays; a count that is negative or not whole makes the file damaged.
    void outboxNumbers_areBounded_data()
    {
        QTest::addColumn<QByteArray>("attempts");
        QTest::addColumn<bool>("readable");
        QTest::newRow("0") << QByteArray("0") << true;
        QTest::newRow("3") << QByteArray("3") << true;
        QTest::newRow("INT_MAX") << QByteArray::number(INT_MAX) << true;
        QTest::newRow("beyond int") << QByteArray("4294967297") << true;
        QTest::newRow("huge double") << QByteArray("1e300") << true;
        QTest::newRow("negative") << QByteArray("-1") << false;
        QTest::newRow("INT_MIN") << QByteArray::number(INT_MIN) << false;
        QTest::newRow("huge negative") << QByteArray("-1e300") << false;
        QTest::newRow("fraction") << QByteArray("2.5") << false;
    }
    void outboxNumbers_areBounded()
    {
        QFETCH(QByteArray, attempts);
        QFETCH(bool, readable);
        QByteArray bytes = core::encodeOutboxEntry(waitingEntryFor("127.0.0.1:25"));
        QVERIFY(bytes.contains("\"attempts\": 1"));
        bytes.replace("\"attempts\": 1", "\"attempts\": " + attempts);
        const std::optional<core::OutboxEntry> entry = core::decodeOutboxEntry(bytes);
        QCOMPARE(bool(entry), readable);
        if (!entry)
            return;
        QVERIFY(entry->attempts >= 0 && entry->attempts <= core::kMaxDeliveryAttempts);
        QVERIFY(entry->attempts >= std::min(attempts.toDouble(), double(core::kMaxDeliveryAttempts)));
        const int delay = core::retryDelayMinutes(entry->attempts + 1);
        QVERIFY2(delay >= 1 && delay <= 30, qPrintable(QString::number(delay)));
        for (const int failed : {INT_MIN, -1, 0, 1, 5, 6, INT_MAX - 1, INT_MAX}) {
            const int minutes = core::retryDelayMinutes(failed);
            QVERIFY(minutes >= 0 && minutes <= 30);
        }
    }

    // A file that claims the largest count of attempts is tried again after 30 minutes, not at once.
    void outboxEntryWithTheLargestCount_waitsThirtyMinutes()
    {
        FakeSmtpServer server({{"421 too busy\r\n"}});
        const QDateTime start = QDateTime::currentDateTime();
        m_fakes->clock.wallClock = start;
        core::OutboxEntry entry = waitingEntryFor(server.address());
        entry.firstAttempt = entry.nextAttempt = start;
        QByteArray bytes = core::encodeOutboxEntry(entry);
        bytes.replace("\"attempts\": 1", "\"attempts\": " + QByteArray::number(INT_MAX));
        QVERIFY(QDir(m_dir->path()).mkpath("data/outbox"));
        QFile file(m_dir->path() + "/data/outbox/waiting.json");
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size());
        file.close();

        auto notifications = queue();
        QTRY_COMPARE(server.connections, 1);
        QTRY_COMPARE(waitingEntry().lastError, QStringLiteral("421 too busy"));
        QCOMPARE(waitingEntry().nextAttempt, start.addSecs(30 * 60));
        QCOMPARE(notifications->waitingCount(), 1);
    }

    // An entry whose first attempt lies ahead of the clock (the clock was set back) is dropped 24 hours after it
    // was read, not once the clock has caught up.
    void firstAttemptAheadOfTheClock_droppedADayAfterItWasRead()
    {
        const QDateTime start = QDateTime::currentDateTime();
        m_fakes->clock.wallClock = start;
        core::OutboxEntry entry = waitingEntryFor(QStringLiteral("127.0.0.1:%1").arg(test::unusedLoopbackPort()));
        entry.firstAttempt = start.addDays(10);
        entry.nextAttempt = start.addSecs(5 * 60);
        const core::Outbox outbox(m_dir->path());
        QVERIFY(outbox.save(outbox.newPath(entry.firstAttempt), entry));

        auto notifications = queue();
        QSignalSpy notes(notifications.get(), &NotificationQueue::outboxNote);
        QCOMPARE(notifications->waitingCount(), 1);
        m_fakes->clock.wallClock = start.addSecs(23 * 3600);
        QTRY_COMPARE(waitingEntry().attempts, 2); // tried again, still within its day
        QCOMPARE(notifications->waitingCount(), 1);
        m_fakes->clock.wallClock = start.addSecs(24 * 3600 + 60);
        QTRY_COMPARE(notifications->waitingCount(), 0);
        QVERIFY(outboxFiles(m_dir->path(), "*").isEmpty());
        QVERIFY(!notes.isEmpty());
        QVERIFY2(notes.last()[0].toString().contains("within 24 hours"), qPrintable(notes.last()[0].toString()));
    }
};

QTEST_GUILESS_MAIN(TestNotificationQueue)
#include "tst_notificationqueue.moc"
