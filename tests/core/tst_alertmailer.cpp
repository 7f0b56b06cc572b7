#include "core/Monitor.h"
#include "core/NotificationQueue.h"
#include "mail/EmailSettings.h"
#include "platform/QtTcpSocket.h"
#include "probe/EchoProbe.h"
#include "probe/ResultLine.h"
#include "support/MonitorFixture.h"
#include "support/SmtpSink.h"

#include <QCoreApplication>
#include <QRegularExpression>
#include <QTest>

using namespace sondrel;
using namespace sondrel::test;

namespace {

constexpr qint32 kTimedOut = IpStatus::ReqTimedOut;
constexpr qint32 kUnreachable = IpStatus::DestHostUnreachable;
const QDateTime kBase(QDate(2026, 12, 7), QTime(10, 0));

QString at(const QDateTime& when)
{
    return probe::lineDate(when) + u' ' + probe::lineTime(when);
}

// One message as the server stored it: its subject, its body, and the last check whose line it carries.
struct Mail {
    QString subject;
    QString body;
    int lastCheck = 0;
};

} // namespace

// The alert settings of a site slot at work in whole runs: thresholds, recovery notices, reminders, the snooze and
// the slowness and certificate e-mails, as a real SMTP server receives them.
class TestAlertMailer : public QObject, private MonitorFixture {
    Q_OBJECT
private:
    platform::QtTcpSocketFactory m_sockets;
    std::unique_ptr<SmtpSink> m_sink;
    core::MonitorSettings m_settings;
    QList<qint32> m_statuses; // the echo status of each check in turn (0: a reply); a run has this many checks
    qint64 m_stepMs = 60'000; // both clocks advance this much from one check to the next
    QList<core::SiteChange> m_changes;

    void openWatchingMonitor()
    {
        openMonitor();
        QObject::connect(m_monitor, &core::Monitor::siteChanged,
                         [this](core::SiteChange change) { m_changes.append(change); });
    }
    // Runs one check per scripted status, each at its own time, and waits until every e-mail is over.
    void run()
    {
        m_fakes->echo.nextReply = [this](quint32 address, const QByteArray& payload) {
            const int index = m_fakes->echo.sendCount - 1;
            m_fakes->clock.wallClock = kBase.addMSecs(index * m_stepMs);
            m_fakes->clock.offsetMs = index * m_stepMs;
            if (index + 1 >= m_statuses.size())
                m_monitor->stop(); // the check under way is the last
            const qint32 status = m_statuses.value(index);
            return status == 0 ? FakeIcmpEcho::echoOf(address, payload) : EchoReply{address, status, 0, 0, {}};
        };
        QVERIFY(m_monitor->start(m_settings));
        QTRY_VERIFY_WITH_TIMEOUT(!m_monitor->isRunning(), 20000);
        QCOMPARE(qsizetype(m_fakes->echo.sendCount), m_statuses.size());
        waitForMail();
    }
    void waitForMail() { QTRY_VERIFY_WITH_TIMEOUT(m_hub->notifications().isIdle(), 20000); }
    QList<Mail> mails() const
    {
        static const QRegularExpression subject(QStringLiteral("^Subject:(.*)\r$"),
                                                QRegularExpression::MultilineOption);
        static const QRegularExpression check(QStringLiteral("\r\n(\\d{6}) "));
        QList<Mail> all;
        for (const QString& message : m_sink->messages()) {
            Mail mail;
            mail.subject = subject.match(message).captured(1);
            mail.body = message.mid(message.indexOf(QStringLiteral("\r\n\r\n")) + 4);
            for (auto it = check.globalMatch(message); it.hasNext();)
                mail.lastCheck = it.next().captured(1).toInt();
            all.append(mail);
        }
        return all;
    }
    // "6" for the plain notification with the lines up to check 6, "8 recovered" for a recovery notice.
    QStringList summary() const
    {
        QStringList seen;
        for (const Mail& mail : mails()) {
            QString suffix = mail.subject.mid(QStringLiteral("Site status").size());
            seen.append(QString::number(mail.lastCheck) + suffix.replace(QStringLiteral(" -"), QString()));
        }
        return seen;
    }

private slots:
    void init()
    {
        QVERIFY(renewFixture());
        m_fakes->tcp = &m_sockets;
        m_sink = std::make_unique<SmtpSink>();
        const QString noServer = m_sink->start();
        if (!noServer.isEmpty())
            QSKIP(qPrintable(noServer));
        QVERIFY(mail::EmailSettingsFile(m_dir->path())
                    .save({m_sink->host(), "Site Watch", "watch@example.test", "Owner", "owner@example.test",
                           "Site status", "The site changed.", -1, 0}));
        m_settings = {};
        m_settings.webAddress = QStringLiteral("127.0.0.1");
        m_settings.intervalSeconds = 0;
        m_settings.autoDisconnect = false;
        m_settings.emailNotification = true;
        m_stepMs = 60'000;
        m_changes.clear();
        openWatchingMonitor();
    }
    void cleanup()
    {
        closeMonitor();
        m_sink.reset();
    }

    // The site drops 2 echoes, answers, drops 3, then answers for good.
    void thresholds_decideWhichChecksAreMailed_data()
    {
        QTest::addColumn<int>("failures");
        QTest::addColumn<bool>("recovery");
        QTest::addColumn<int>("successes");
        QTest::addColumn<QStringList>("mailed");
        QTest::newRow("defaults: the first failure, once a run") << 1 << false << 1 << QStringList{"1"};
        QTest::newRow("3 in a row: the sixth check") << 3 << false << 1 << QStringList{"6"};
        QTest::newRow("4 in a row: never") << 4 << false << 1 << QStringList{};
        QTest::newRow("3 in a row, back after 2") << 3 << true << 2 << QStringList{"6", "8 recovered"};
        QTest::newRow("every change, with recovery notices")
            << 1 << true << 1 << QStringList{"1", "3 recovered", "4", "7 recovered"};
    }
    void thresholds_decideWhichChecksAreMailed()
    {
        QFETCH(int, failures);
        QFETCH(bool, recovery);
        QFETCH(int, successes);
        QFETCH(QStringList, mailed);
        m_settings.alerts.failuresBeforeAlert = failures;
        m_settings.alerts.sendRecoveryNotice = recovery;
        m_settings.alerts.successesBeforeRecovery = successes;
        m_statuses = {kTimedOut, kTimedOut, 0, kTimedOut, kTimedOut, kTimedOut, 0, 0, 0, 0};
        run();
        QCOMPARE(summary(), mailed);
        // The desktop hears of exactly the changes the e-mails report.
        QCOMPARE(m_changes.size(), mailed.size());
        // The result lines show every check as it was.
        QCOMPARE(m_seen->lines.filter(QStringLiteral("Failed to ping!")).size(), 5);
        QVERIFY(!m_monitor->state().PingOk);
    }

    // The outage began with check 2 and ended with check 6, the first of the two good checks in a row that brought
    // the site back: the good check 4 between failures does not end it.
    void recovery_tellsWhenTheOutageBeganHowLongItLastedAndHowItEnded()
    {
        m_settings.alerts.sendRecoveryNotice = true;
        m_settings.alerts.successesBeforeRecovery = 2;
        m_stepMs = 5 * 60'000;
        m_statuses = {0, kTimedOut, kTimedOut, 0, kUnreachable, 0, 0, 0};
        run();
        const QList<Mail> sent = mails();
        QCOMPARE(summary(), (QStringList{"2", "7 recovered"}));
        QVERIFY(sent[0].body.startsWith(QStringLiteral("The site changed.\r\n")));
        const QString lead = QStringLiteral("The site answers again since ") + at(kBase.addSecs(25 * 60)) +
                             QStringLiteral(".\r\nFirst failure: ") + at(kBase.addSecs(5 * 60)) +
                             QStringLiteral("\r\nDowntime: 20 min\r\nLast failure: ") +
                             probe::pingstatustext(kUnreachable) + QStringLiteral("\r\n\r\nThe site changed.\r\n");
        QVERIFY2(sent[1].body.startsWith(lead), qPrintable(sent[1].body));
        QVERIFY(sent[1].body.contains(m_seen->lines[6].trimmed()));
        QCOMPARE(m_changes, (QList<core::SiteChange>{core::SiteChange::PingFailing, core::SiteChange::PingAnswering}));
    }

    // Checks 40 s apart: down from check 2 on, reminded at checks 4 and 6, back at check 8; none after that.
    void reminders_repeatTheNoticeWhileTheSiteStaysDown()
    {
        m_settings.alerts.remindMinutes = 1;
        m_settings.alerts.sendRecoveryNotice = true;
        m_stepMs = 40'000;
        m_statuses = {0, kTimedOut, kTimedOut, kTimedOut, kTimedOut, kTimedOut, kTimedOut, 0, 0, 0, 0, 0};
        run();
        QCOMPARE(summary(), (QStringList{"2", "4 reminder", "6 reminder", "8 recovered"}));
        const QList<Mail> sent = mails();
        const QString since = at(kBase.addSecs(40));
        QVERIFY2(sent[1].body.startsWith(QStringLiteral("Reminder: the site has been down for 1 min (since ") + since +
                                         QStringLiteral(")\r\n\r\nThe site changed.")),
                 qPrintable(sent[1].body));
        QVERIFY(sent[2].body.startsWith(QStringLiteral("Reminder: the site has been down for 2 min (since ")));
    }

    void snooze_keepsAlertsBackAndSumsThemUpOnce_data()
    {
        QTest::addColumn<bool>("byResume");
        QTest::addColumn<QList<qint32>>("statuses");
        // Checks a minute apart, all inside the hour's snooze, with a slowness and a certificate report meanwhile;
        // after the summary a certificate report is mailed at once, and with notification off nothing is.
        QTest::newRow("resumed") << true << QList<qint32>{0, kTimedOut, 0, 0};
        // Checks 20 minutes apart: the fourth check, at the hour, ends the snooze; the fifth fails and is mailed.
        QTest::newRow("its time passes at a check's end") << false << QList<qint32>{0, kTimedOut, 0, 0, kTimedOut};
    }
    void snooze_keepsAlertsBackAndSumsThemUpOnce()
    {
        QFETCH(bool, byResume);
        QFETCH(QList<qint32>, statuses);
        QList<QDateTime> snoozes;
        QObject::connect(m_monitor, &core::Monitor::snoozeChanged,
                         [&snoozes](const QDateTime& until) { snoozes.append(until); });
        m_settings.alerts.sendRecoveryNotice = true;
        m_fakes->clock.wallClock = kBase;
        m_monitor->snoozeUntil(kBase.addSecs(3600));
        m_stepMs = byResume ? 60'000 : 20 * 60'000;
        m_statuses = statuses;
        run();
        const QDateTime expiry(QDate(2027, 1, 2), QTime(12, 0));
        if (byResume) {
            emit m_monitor->slownessChanged(true, QStringLiteral("trip time 900 ms"));
            emit m_monitor->certificateExpiring(expiry, QStringLiteral("Test CA"));
            waitForMail();
            QCOMPARE(mails().size(), 0);
            m_monitor->resume();
            m_monitor->resume();
            emit m_monitor->certificateExpiring(expiry, QStringLiteral("Test CA"));
            m_settings.emailNotification = false;
            m_monitor->setSettings(m_settings);
            emit m_monitor->slownessChanged(false, QStringLiteral("trip time 20 ms"));
            waitForMail();
        }
        // The desktop heard of both changes while the e-mails waited.
        QCOMPARE(m_changes.mid(0, 2),
                 (QList<core::SiteChange>{core::SiteChange::PingFailing, core::SiteChange::PingAnswering}));
        const QList<Mail> sent = mails();
        QCOMPARE(sent.size(), 2);
        QCOMPARE(sent[0].subject, QStringLiteral("Site status - snoozed alerts"));
        const QString down = at(kBase.addMSecs(m_stepMs));
        QStringList expected{QStringLiteral("Alerts were snoozed from ") + at(kBase) + QStringLiteral(" until "),
                             down + QStringLiteral(" The site stopped answering: ") + probe::pingstatustext(kTimedOut),
                             at(kBase.addMSecs(2 * m_stepMs)) + QStringLiteral(" The site answers again after ")};
        const QString last = at(kBase.addMSecs((statuses.size() - 1) * m_stepMs));
        if (byResume)
            expected << last + QStringLiteral(" The site is slow: trip time 900 ms")
                     << last + QStringLiteral(" The site's certificate expires on ") + at(expiry) +
                            QStringLiteral(" (issuer: Test CA).");
        expected << QString() << QStringLiteral("The site changed.");
        const QStringList lines = sent[0].body.split(QStringLiteral("\r\n")).mid(0, expected.size());
        for (qsizetype i = 0; i < expected.size(); ++i)
            QVERIFY2(lines[i].startsWith(expected[i]), qPrintable(lines[i]));
        if (byResume) {
            QCOMPARE(sent[1].subject, QStringLiteral("Site status - certificate expires ") + probe::lineDate(expiry));
            QVERIFY(sent[1].body.startsWith(QStringLiteral("The site's certificate expires on ") + at(expiry) +
                                            QStringLiteral(" (issuer: Test CA).\r\n\r\nThe site changed.")));
        } else {
            QCOMPARE(sent[1].subject, QStringLiteral("Site status"));
        }
        QCOMPARE(snoozes, (QList<QDateTime>{kBase.addSecs(3600), QDateTime()}));
    }
};

int main(int argc, char* argv[])
{
    // Dates and times in the C locale's fixed form.
    qputenv("LC_ALL", "C");
    qputenv("LANG", "C");
    QCoreApplication app(argc, argv);
    TestAlertMailer test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_alertmailer.moc"
