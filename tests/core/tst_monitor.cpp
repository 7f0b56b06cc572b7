#include "core/Monitor.h"
#include "core/NotificationQueue.h"
#include "mail/EmailSettings.h"
#include "platform/LinuxIcmpEcho.h"
#include "platform/QtHostResolver.h"
#include "platform/QtHttpClient.h"
#include "platform/QtTcpSocket.h"
#include "support/MonitorFixture.h"
#include "support/PrivateNetwork.h"
#include "support/SmtpSink.h"

#include <QFile>
#include <QProcess>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTest>

using namespace sondrel;
using namespace sondrel::test;

// The monitor with no window at all: a whole run against real peers, and notifications that outlast the
// check cycle that decided them.
class TestMonitor : public QObject, private MonitorFixture {
    Q_OBJECT
private:
    platform::QtTcpSocketFactory m_sockets;

    void storeEmailSettings(const QString& host)
    {
        QVERIFY(mail::EmailSettingsFile(m_dir->path())
                    .save({host, "Site Watch", "watch@example.test", "Owner", "owner@example.test", "Site status",
                           "The site changed.", -1, 0}));
    }
    static core::MonitorSettings watching(const QString& address, double interval)
    {
        core::MonitorSettings settings;
        settings.webAddress = address;
        settings.intervalSeconds = interval;
        settings.autoDisconnect = false;
        settings.emailNotification = true;
        return settings;
    }
    // The lines a notification carries, as they were shown.
    static QString attached(const QStringList& lines)
    {
        QString text;
        for (const QString& line : lines)
            text += QStringLiteral("\r\n") + line.trimmed() + QStringLiteral("\r\n");
        return text;
    }
    void stopAndWait(core::Monitor& monitor)
    {
        monitor.stop();
        QTRY_VERIFY_WITH_TIMEOUT(!monitor.isRunning(), 5000);
    }

private slots:
    void init()
    {
        QVERIFY(renewFixture());
        m_fakes->tcp = &m_sockets;
    }
    void cleanup() { renewFixture(); }

    // Real ICMP to 127.0.0.1, a real web server and a real SMTP server, in a network of the test's own.
    // The address as users type it: a plain address, or a URL whose host is pinged, IPv6 included.
    void wholeRun_pageTextGone_isMailedWithTheRunsLines_data()
    {
        QTest::addColumn<QString>("bind");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("siteAddress");
        QTest::newRow("IPv4 address") << "127.0.0.1"
                                      << "127.0.0.1"
                                      << "127.0.0.1";
        QTest::newRow("IPv6 URL with port and path") << "::1"
                                                     << "http://[::1]:8080/index.html"
                                                     << "::1";
    }
    void wholeRun_pageTextGone_isMailedWithTheRunsLines()
    {
        QFETCH(QString, bind);
        QFETCH(QString, typed);
        QFETCH(QString, siteAddress);
        static const QString why = enterPrivateNetwork();
        if (!why.isEmpty())
            QSKIP(qPrintable(QStringLiteral("needs a private network namespace: ") + why));
        SmtpSink sink;
        const QString noServer = sink.start();
        if (!noServer.isEmpty())
            QSKIP(qPrintable(noServer));
        storeEmailSettings(sink.host());

        QTemporaryDir site;
        QVERIFY(site.isValid());
        auto publish = [&](const QByteArray& page) {
            QFile index(site.filePath(QStringLiteral("index.html")));
            QVERIFY(index.open(QIODevice::WriteOnly));
            index.write(page);
        };
        publish("<html><body><h1>Welcome</h1></body></html>");
        QProcess web;
        web.start(QStringLiteral("/usr/bin/python3"), {"-u", "-m", "http.server", "--bind", bind, "--directory",
                                                       site.path(), typed.contains(u':') ? "8080" : "80"});
        // It says so once it listens.
        QSignalSpy listening(&web, &QProcess::readyReadStandardOutput);
        QVERIFY2(listening.wait(10000), qPrintable(QString::fromLocal8Bit(web.readAllStandardError())));
        const auto stopWeb = qScopeGuard([&] {
            web.kill();
            web.waitForFinished(5000);
        });

        platform::LinuxIcmpEcho echo;
        platform::QtHostResolver resolver;
        platform::QtHttpClient http;
        const platform::Services fakes = m_fakes->services();
        core::Monitor monitor(platform::Services{fakes.messages, fakes.clock, fakes.connection, echo, resolver, http,
                                                 m_sockets, fakes.shell, fakes.secrets},
                              m_dir->path());
        MonitorRecorder seen(monitor);
        core::MonitorSettings settings = watching(typed, 0.2);
        settings.checkMainPage = true;
        settings.mainSiteString = QStringLiteral("welcome");
        QVERIFY(monitor.start(settings));

        QTRY_VERIFY_WITH_TIMEOUT(seen.lines.size() >= 2 && seen.lines.last().endsWith(" WSOK"), 10000);
        publish("<html><body><h1>Closed for the day</h1></body></html>");
        QTRY_VERIFY_WITH_TIMEOUT(!seen.lines.isEmpty() && seen.lines.last().endsWith(" WSNF"), 10000);
        QTRY_COMPARE_WITH_TIMEOUT(sink.messages().size(), 1, 15000);
        stopAndWait(monitor);

        QVERIFY(seen.lines.first().contains(QStringLiteral(" Trip Time=")));
        QCOMPARE(seen.siteAddress, siteAddress);
        QCOMPARE(seen.ends, QList<core::RunEnd>{core::RunEnd::Stopped});
        QCOMPARE(seen.messageTexts(), QStringList{QStringLiteral("Scan Stopped")});
        const int gone = int(seen.lines.indexOf(QRegularExpression(QStringLiteral(".* WSNF$"))));
        const QString message = sink.messages().first();
        QVERIFY(message.contains(QStringLiteral("Subject:Site status")) ||
                message.contains(QStringLiteral("Subject: Site status")));
        QVERIFY2(message.contains(attached(seen.lines.mid(0, gone + 1))), qPrintable(message));
        QVERIFY(!message.contains(seen.lines.value(gone + 1, QStringLiteral("no later line")).trimmed()));
    }

    // A server that takes half a second for every reply, and checks every 0.2 s: the run goes on checking,
    // and the notification still reaches the server whole. Stop and Start cut nothing off either.
    void slowServer_notificationArrivesWhole_data()
    {
        QTest::addColumn<bool>("restart");
        QTest::newRow("run goes on") << false;
        QTest::newRow("Stop and Start during the exchange") << true;
    }
    void slowServer_notificationArrivesWhole()
    {
        QFETCH(bool, restart);
        SmtpSink sink;
        const QString noServer = sink.start(0.5);
        if (!noServer.isEmpty())
            QSKIP(qPrintable(noServer));
        storeEmailSettings(sink.host());
        // The first check is answered, every later one times out.
        m_fakes->echo.nextReply = [this](quint32 address, const QByteArray& payload) {
            if (m_fakes->echo.sendCount == 1)
                return FakeIcmpEcho::echoOf(address, payload);
            return EchoReply{address, 11010, 0, 0, {}};
        };
        core::Monitor& monitor = openMonitor();
        const core::MonitorSettings settings = watching(QStringLiteral("127.0.0.1"), 0.2);
        QVERIFY(monitor.start(settings));
        QTRY_COMPARE(m_seen->lines.size(), 2);
        const QStringList firstRun = m_seen->lines;

        if (restart) {
            stopAndWait(monitor);
            QVERIFY(monitor.start(settings)); // its first check fails again: a second notification
            QTRY_COMPARE(m_seen->lines.size(), 3);
        }
        const int checksBefore = m_fakes->echo.sendCount;
        QTRY_COMPARE_WITH_TIMEOUT(sink.messages().size(), restart ? 2 : 1, 30000);
        QVERIFY(m_fakes->echo.sendCount >= checksBefore + 5); // the run kept checking meanwhile
        stopAndWait(monitor);

        const QStringList messages = sink.messages();
        QVERIFY2(messages[0].contains(QStringLiteral("The site changed.")), qPrintable(messages[0]));
        QVERIFY2(messages[0].contains(attached(firstRun)), qPrintable(messages[0]));
        if (restart)
            QVERIFY2(messages[1].contains(attached({m_seen->lines[2]})), qPrintable(messages[1]));
        QTRY_VERIFY(monitor.notifications().isIdle());
    }
};

QTEST_GUILESS_MAIN(TestMonitor)
#include "tst_monitor.moc"
