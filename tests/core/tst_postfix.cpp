#include "core/Monitor.h"
#include "core/MonitorHub.h"
#include "core/PasswordVault.h"
#include "mail/EmailSettings.h"
#include "mail/MailSecurity.h"
#include "platform/QtTcpSocket.h"
#include "support/MonitorFixture.h"
#include "support/PostfixServer.h"
#include "support/PrivateNetwork.h"
#include "support/TestCertificates.h"

#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>

using namespace sondrel;
using namespace sondrel::test;

// The monitor with no window, notifying through Postfix, a mail server as users run it, on loopback in a
// network of the test's own.
class TestPostfix : public QObject {
    Q_OBJECT
private slots:
    // The site answers the first check and no later one: the notification goes over STARTTLS with a login and
    // lands in the mailbox whole, with the run's lines up to the failed check in order.
    void siteStopsAnswering_notificationReachesTheMailboxOverTlsWithLogin()
    {
        const QString unavailable = PostfixServer::unavailable();
        if (!unavailable.isEmpty())
            QSKIP(qPrintable(unavailable));
        const QString why = enterPrivateNetwork();
        if (!why.isEmpty())
            QSKIP(qPrintable(QStringLiteral("needs a private network namespace: ") + why));
        TestCertificates certificates;
        const QString noCertificates = certificates.make();
        if (!noCertificates.isEmpty())
            QSKIP(qPrintable(noCertificates));
        const QString user = QStringLiteral("watcher");
        const QString password = QStringLiteral("pass phrase: 7 words & symbols");
        PostfixServer postfix;
        const QString failed = postfix.start(certificates.file(QStringLiteral("server.pem")),
                                             certificates.file(QStringLiteral("server.key")), user, password);
        QVERIFY2(failed.isEmpty(), qPrintable(failed));

        const auto folder = newProgramFolder();
        QVERIFY(folder->isValid());
        QVERIFY(mail::EmailSettingsFile(folder->path())
                    .save({postfix.host(), "Site Watch", "watch@example.test", "Owner",
                           QString::fromLatin1(PostfixServer::kMailbox), "Site status", "The site changed.", -1, 0}));
        QVERIFY(mail::MailSecurityFile(folder->path()).save({mail::SmtpSecurity::StartTls, user}));
        FakeSystem fakes;
        {
            core::PasswordVault vault(fakes.secrets, folder->path());
            bool saved = false;
            vault.save(QStringLiteral("127.0.0.1"), user, password,
                       [&](core::PasswordPlace, const QString&) { saved = true; });
            QTRY_VERIFY_WITH_TIMEOUT(saved, 5000);
        }
        fakes.echo.nextReply = [&fakes](quint32 address, const QByteArray& payload) {
            if (fakes.echo.sendCount == 1)
                return FakeIcmpEcho::echoOf(address, payload);
            return EchoReply{address, 11010, 0, 0, {}};
        };
        platform::QtTcpSocketFactory sockets(certificates.authority());
        fakes.tcp = &sockets;
        core::MonitorHub hub(fakes.services(), folder->path());
        core::Monitor& monitor = hub.addRun();
        MonitorRecorder seen(monitor);
        hub.notifications().setReplyTimeout(20000);
        QSignalSpy delivered(&hub.notifications(), &core::NotificationQueue::delivered);
        core::MonitorSettings settings;
        settings.webAddress = QStringLiteral("127.0.0.1");
        settings.intervalSeconds = 0.2;
        settings.autoDisconnect = false;
        settings.emailNotification = true;
        QVERIFY(monitor.start(settings));

        QTRY_COMPARE_WITH_TIMEOUT(seen.lines.size(), 2, 10000);
        const QStringList decided = seen.lines;
        QTRY_COMPARE_WITH_TIMEOUT(delivered.size(), 1, 30000);
        const auto result = delivered[0][0].value<core::MailDelivery::Result>();
        QVERIFY2(result.outcome == core::MailDelivery::Outcome::Sent, qPrintable(result.text + u'\n' + postfix.log()));
        QTRY_VERIFY2_WITH_TIMEOUT(postfix.mailbox().size() == 1, qPrintable(postfix.log()), 20000);
        monitor.stop();
        QTRY_VERIFY_WITH_TIMEOUT(!monitor.isRunning(), 5000);
        QCOMPARE(seen.messageTexts(), QStringList{QStringLiteral("Scan Stopped")});
        QCOMPARE(delivered.size(), 1); // the site stayed silent: nothing more to tell
        QVERIFY(hub.notifications().isIdle());

        // Postfix stores the message with LF line ends, after the lines it adds on top.
        const QByteArray message = postfix.mailbox().first();
        const qsizetype split = message.indexOf("\n\n");
        QVERIFY2(split > 0, message.constData());
        const QByteArray header = message.left(split + 1);
        QByteArray body = "The site changed.\n*************************\n\n*************************\n";
        for (const QString& line : decided)
            body += "\n" + line.trimmed().toLatin1() + "\n";
        body += "\n\n\n"; // every message ends with three line breaks
        QCOMPARE(message.mid(split + 2), body);
        const QRegularExpression lines(
            QStringLiteral("\nDelivered-To: owner@sondrel\\.test\n.*\nFrom: ?Site Watch <watch@example\\.test>\n"
                           "To: ?Owner <owner@sondrel\\.test>\nSubject: ?Site status\n"),
            QRegularExpression::DotMatchesEverythingOption);
        QVERIFY2(lines.match(QString::fromLatin1(header)).hasMatch(), header.constData());
        // ESMTPSA: the message came after STARTTLS and a login.
        QVERIFY2(header.contains("(using TLSv1.") && header.contains(" with ESMTPSA id "), header.constData());
        QVERIFY2(postfix.log().contains(QStringLiteral("sasl_username=watcher@sondrel.test")),
                 qPrintable(postfix.log()));
    }
};

QTEST_GUILESS_MAIN(TestPostfix)
#include "tst_postfix.moc"
