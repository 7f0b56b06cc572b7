#include "core/Monitor.h"
#include "core/MonitorHub.h"
#include "mail/EmailSettings.h"
#include "platform/LinuxIcmpEcho.h"
#include "platform/QtHostResolver.h"
#include "platform/QtHttpClient.h"
#include "platform/QtTcpSocket.h"
#include "support/MonitorFixture.h"
#include "support/PrivateNetwork.h"
#include "support/SmtpSink.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTest>

#include <algorithm>
#include <map>

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
    // The test's own network namespace, entered once for the whole program: why not, when it cannot be.
    static QString privateNetwork()
    {
        static const QString why = enterPrivateNetwork();
        return why;
    }
    // The system's own ICMP, name resolution and HTTP (TCP is the fixture's real socket factory); the rest fake.
    struct RealNetwork {
        platform::LinuxIcmpEcho echo;
        platform::QtHostResolver resolver;
        platform::QtHttpClient http;
    };
    platform::Services servicesOn(RealNetwork& network)
    {
        const platform::Services fakes = m_fakes->services();
        return {fakes.messages, fakes.clock, fakes.connection, network.echo, network.resolver,
                network.http,   m_sockets,   fakes.shell,      fakes.secrets};
    }
    // The private network, and a real SMTP server that the stored e-mail settings name: why not, when they cannot be.
    QString startPeers(SmtpSink& sink)
    {
        if (const QString why = privateNetwork(); !why.isEmpty())
            return QStringLiteral("needs a private network namespace: ") + why;
        if (const QString noServer = sink.start(); !noServer.isEmpty())
            return noServer;
        storeEmailSettings(sink.host());
        return {};
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
        SmtpSink sink;
        if (const QString missing = startPeers(sink); !missing.isEmpty())
            QSKIP(qPrintable(missing));

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

        RealNetwork network;
        core::MonitorHub hub(servicesOn(network), m_dir->path());
        core::Monitor& monitor = hub.addRun();
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

    // Failures before alert 3 and recovery notices on, with real ICMP to 127.0.0.1 that an nftables rule in
    // the test's own network drops at chosen checks, and a real SMTP server that refuses its first connection.
    // A single lost ping tells nothing; an outage of three checks gives one change e-mail, retried from the
    // outbox, and one recovery e-mail with the downtime.
    void outageWithRefusingServer_oneDownAndOneRecoveredEmail()
    {
        const QString why = privateNetwork();
        if (!why.isEmpty())
            QSKIP(qPrintable(QStringLiteral("needs a private network namespace: ") + why));
        SmtpSink sink;
        const QString noServer = sink.start(0, {"--refuse-connections", "1", "421 Service not available"});
        if (!noServer.isEmpty())
            QSKIP(qPrintable(noServer));
        storeEmailSettings(sink.host());

        RealNetwork network;
        core::MonitorHub hub(servicesOn(network), m_dir->path());
        core::Monitor& monitor = hub.addRun();
        MonitorRecorder seen(monitor);
        // Check n answers when plan[n - 1] is '+'; every check after the plan answers. The rule for the next
        // check is set once a check's line is out, before the run's wait is over.
        const QString plan = QStringLiteral("+-++---+++");
        bool dropping = false;
        connect(&monitor, &core::Monitor::resultLineAdded, this, [&] {
            const bool drop = seen.lines.size() < plan.size() && plan[seen.lines.size()] == u'-';
            if (drop == dropping)
                return;
            dropping = drop;
            const QString failed =
                drop ? runCommand("nft", {"-f", "-"},
                                  "table ip outage {\n chain input {\n type filter hook input priority 0;\n"
                                  " ip daddr 127.0.0.1 icmp type echo-request drop\n }\n}\n")
                     : runCommand("nft", {"delete", "table", "ip", "outage"});
            QVERIFY2(failed.isEmpty(), qPrintable(failed));
        });
        const auto noRuleLeft = qScopeGuard([&] {
            if (dropping)
                runCommand("nft", {"delete", "table", "ip", "outage"});
        });
        QStringList changes;
        connect(&monitor, &core::Monitor::siteChanged, this, [&](core::SiteChange change) {
            changes.append(QStringLiteral("%1 at check %2")
                               .arg(change == core::SiteChange::PingFailing ? "down" : "answering")
                               .arg(seen.lines.size()));
        });
        // The first retry is due a minute after the refusal: while the notification waits in the outbox, the
        // platform clock's wall time is that much ahead, and the queue looks at it every 20 ms.
        core::NotificationQueue& queue = hub.notifications();
        queue.setRetryCheckInterval(20);
        connect(&queue, &core::NotificationQueue::outboxChanged, this, [this](int waiting) {
            m_fakes->clock.wallClock = waiting > 0 ? QDateTime::currentDateTime().addSecs(61) : QDateTime();
        });
        core::MonitorSettings settings = watching(QStringLiteral("127.0.0.1"), 0.2);
        settings.alerts.failuresBeforeAlert = 3;
        settings.alerts.sendRecoveryNotice = true;
        settings.alerts.successesBeforeRecovery = 2;
        QVERIFY(monitor.start(settings));

        QTRY_VERIFY_WITH_TIMEOUT(seen.lines.size() > plan.size(), 20000);
        QTRY_VERIFY_WITH_TIMEOUT(sink.messages().size() == 2 && queue.isIdle() && queue.waitingCount() == 0, 20000);
        stopAndWait(monitor);

        QString outcomes;
        for (const QString& line : seen.lines.first(plan.size()))
            outcomes += line.contains(QStringLiteral("Failed to ping")) ? u'-' : u'+';
        QCOMPARE(outcomes, plan);
        QCOMPARE(changes, (QStringList{"down at check 7", "answering at check 9"}));
        QVERIFY(queue.lastError().startsWith(QStringLiteral("421")));
        QStringList messages = sink.messages();
        QCOMPARE(messages.size(), 2);
        const qsizetype recovered =
            messages.indexOf(QRegularExpression(QStringLiteral("(?s).*Site status - recovered.*")));
        QVERIFY2(recovered >= 0, qPrintable(messages.join(u'\n')));
        const QString recovery = messages.takeAt(recovered);
        QVERIFY2(recovery.contains(QRegularExpression(QStringLiteral("\r\nDowntime: \\d+ s\r\n"))),
                 qPrintable(recovery));
        QVERIFY2(messages[0].contains(QRegularExpression(QStringLiteral("Subject: ?Site status\r\n"))) &&
                     messages[0].contains(QStringLiteral("The site changed.")),
                 qPrintable(messages[0]));
    }

    // Two sites watched at once by one hub, each run with its own folder, sharing one notification queue and a real
    // SMTP server that takes a while over each reply. 127.0.0.1 stops answering first; 127.0.0.2 stops while the
    // first site's e-mail is still being taken: its e-mail waits for its turn, its run goes on checking, and the two
    // arrive in the order the changes happened, each with its own run's lines.
    void twoRuns_shareOneQueue_andMailInTheOrderOfTheirChanges()
    {
        const QString why = privateNetwork();
        if (!why.isEmpty())
            QSKIP(qPrintable(QStringLiteral("needs a private network namespace: ") + why));
        SmtpSink sink;
        const QString noServer = sink.start(0.5);
        if (!noServer.isEmpty())
            QSKIP(qPrintable(noServer));

        RealNetwork network;
        core::MonitorHub hub(servicesOn(network), m_dir->path());
        struct Site {
            explicit Site(QString siteAddress)
                : address(std::move(siteAddress))
            {
            }
            QString address;
            std::unique_ptr<QTemporaryDir> folder = newProgramFolder();
            core::Monitor* run = nullptr;
            std::unique_ptr<MonitorRecorder> seen;
            int downAtLine = 0;
        };
        Site sites[2] = {Site(QStringLiteral("127.0.0.1")), Site(QStringLiteral("127.0.0.2"))};
        QStringList order;
        for (Site& site : sites) {
            QVERIFY(mail::EmailSettingsFile(site.folder->path())
                        .save({sink.host(), "Site Watch", "watch@example.test", "Owner", "owner@example.test",
                               "Site " + site.address, "The site changed.", -1, 0}));
            site.run = &hub.addRun(site.folder->path());
            site.seen = std::make_unique<MonitorRecorder>(*site.run);
            connect(site.run, &core::Monitor::siteChanged, this, [&site, &order] {
                site.downAtLine = int(site.seen->lines.size());
                order.append(site.address);
            });
        }
        auto drop = [](const QString& address) {
            return runCommand("nft", {"-f", "-"},
                              (QStringLiteral("table ip outage") + address.right(1) +
                               " {\n chain input {\n type filter hook input priority 0;\n ip daddr " + address +
                               " icmp type echo-request drop\n }\n}\n")
                                  .toLatin1());
        };
        const auto noRuleLeft = qScopeGuard([] {
            runCommand("nft", {"delete", "table", "ip", "outage1"});
            runCommand("nft", {"delete", "table", "ip", "outage2"});
        });
        for (Site& site : sites)
            QVERIFY(site.run->start(watching(site.address, 0.1)));
        QTRY_VERIFY_WITH_TIMEOUT(sites[0].seen->lines.size() >= 2 && sites[1].seen->lines.size() >= 2, 10000);

        QCOMPARE(drop(sites[0].address), QString());
        QTRY_COMPARE_WITH_TIMEOUT(order, QStringList{sites[0].address}, 10000);
        QVERIFY(!hub.notifications().isIdle()); // the first e-mail is still under way
        QCOMPARE(drop(sites[1].address), QString());
        QTRY_COMPARE_WITH_TIMEOUT(order, (QStringList{sites[0].address, sites[1].address}), 10000);
        // The second site's run goes on checking while its e-mail waits behind the first.
        const qsizetype linesThen = sites[1].seen->lines.size();
        QTRY_VERIFY_WITH_TIMEOUT(sites[1].seen->lines.size() >= linesThen + 2, 10000);
        QVERIFY(sink.messages().size() < 2);
        QTRY_VERIFY_WITH_TIMEOUT(sink.messages().size() == 2 && hub.notifications().isIdle(), 30000);
        for (Site& site : sites)
            stopAndWait(*site.run);

        const QStringList messages = sink.messages();
        QVERIFY(sites[1].downAtLine > sites[0].downAtLine);
        static const QRegularExpression record(QStringLiteral("\\r\\n\\d{6} "));
        for (int i = 0; i < 2; ++i) {
            const Site& site = sites[i];
            QVERIFY2(
                messages[i].contains(QRegularExpression("Subject: ?Site " + QRegularExpression::escape(site.address))),
                qPrintable(messages[i]));
            // Exactly the lines up to the failing check, from the run's own log.
            QVERIFY2(messages[i].contains(attached(site.seen->lines.first(site.downAtLine))), qPrintable(messages[i]));
            QCOMPARE(messages[i].count(record), site.downAtLine);
            QCOMPARE(site.seen->messageTexts(), QStringList{QStringLiteral("Scan Stopped")});
        }
    }

    // Sites started together check one after the other over their first interval, not in one burst. A lost
    // connection is told once for all of them; each background run waits and checks again at its next interval,
    // under the same check number, and goes on once the connection is back.
    void sitesWatchedTogether_spreadTheirFirstChecks_andWaitOutALostConnection()
    {
        core::MonitorHub hub(m_fakes->services(), m_dir->path());
        std::vector<std::pair<int, core::MonitorSettings>> watched;
        for (int site = 1; site <= 4; ++site)
            watched.emplace_back(site, watching(QStringLiteral("127.0.0.%1").arg(site), 0.4));
        QElapsedTimer started;
        std::vector<qint64> firstCheckMs;
        std::vector<std::unique_ptr<MonitorRecorder>> seen;
        for (int site = 1; site <= 4; ++site) {
            core::Monitor& run = hub.siteRun(site);
            seen.push_back(std::make_unique<MonitorRecorder>(run));
            connect(&run, &core::Monitor::checkStarted, this, [&, site](const QString& number) {
                if (number == u"1")
                    firstCheckMs.push_back(site * 100'000 + started.elapsed());
            });
        }
        started.start();
        QCOMPARE(hub.watch(watched), 4);
        QTRY_COMPARE_WITH_TIMEOUT(firstCheckMs.size(), std::size_t(4), 5000);
        for (std::size_t i = 0; i < 4; ++i)
            QCOMPARE(firstCheckMs[i] / 100'000, qint64(i + 1)); // in the order they were started
        QVERIFY2(firstCheckMs[3] % 100'000 >= 250, qPrintable(QString::number(firstCheckMs[3] % 100'000)));

        QSignalSpy lost(&hub, &core::MonitorHub::connectionLost);
        QSignalSpy restored(&hub, &core::MonitorHub::connectionRestored);
        m_fakes->connection.connectResult = false;
        const auto offline = [](const MonitorRecorder& run) {
            return run.lines.count(QStringLiteral("Failed to connect to internet!")) >= 2;
        };
        QTRY_VERIFY_WITH_TIMEOUT(std::all_of(seen.begin(), seen.end(), [&](auto& run) { return offline(*run); }), 5000);
        QCOMPARE(lost.size(), 1);
        QCOMPARE(hub.watchedCount(), 4);
        QVERIFY(seen[0]->messageTexts().isEmpty());
        const qsizetype linesThen = seen[0]->lines.size();
        m_fakes->connection.connectResult = true;
        QTRY_VERIFY_WITH_TIMEOUT(seen[0]->lines.size() > linesThen && !seen[0]->lines.last().startsWith(u"Failed"),
                                 5000);
        QCOMPARE(restored.size(), 1);
        // The checks that could not be made are made later under their own numbers: none is skipped.
        int expected = 1;
        for (const QString& line : seen[0]->lines) {
            if (line != u"Failed to connect to internet!")
                QCOMPARE(line.left(6).toInt(), expected++);
        }
        hub.stopAll();
        QTRY_COMPARE_WITH_TIMEOUT(hub.watchedCount(), 0, 5000);
    }

    // Saved sites watched together as background runs of one hub, in a network of the test's own with a real SMTP
    // server: nftables drops the echoes of some sites while the others answer. Each site keeps its own logs; one site
    // alone mails exactly as a single run does, several name their site, and changes within the grouping window
    // leave as one e-mail that carries each site's own lines.
    void sitesWatchedTogether_mailByTheirChanges_data()
    {
        QTest::addColumn<int>("sites");
        QTest::addColumn<int>("groupSeconds");
        QTest::addColumn<QStringList>("dropped");
        QTest::addColumn<QStringList>("subjects");
        QTest::newRow("one site alone") << 1 << 2 << QStringList{"127.0.0.1"} << QStringList{"Site status"};
        QTest::newRow("grouping off") << 3 << 0 << QStringList{"127.0.0.1", "127.0.0.3"}
                                      << QStringList{"Site status - 127.0.0.1", "Site status - 127.0.0.3"};
        QTest::newRow("two down together")
            << 3 << 2 << QStringList{"127.0.0.1", "127.0.0.3"} << QStringList{"Site status - 127.0.0.1, 127.0.0.3"};
    }
    void sitesWatchedTogether_mailByTheirChanges()
    {
        QFETCH(int, sites);
        QFETCH(int, groupSeconds);
        QFETCH(QStringList, dropped);
        QFETCH(QStringList, subjects);
        SmtpSink sink;
        if (const QString missing = startPeers(sink); !missing.isEmpty())
            QSKIP(qPrintable(missing));

        RealNetwork network;
        core::MonitorHub hub(servicesOn(network), m_dir->path());
        hub.groups().setGroupSeconds(groupSeconds);
        std::vector<std::pair<int, core::MonitorSettings>> watched;
        for (int site = 1; site <= sites; ++site)
            watched.emplace_back(site, watching(QStringLiteral("127.0.0.%1").arg(site), 0.2));
        QCOMPARE(hub.watch(watched), sites);
        QCOMPARE(hub.watch(watched), 0); // never a second run on a site
        std::map<QString, std::unique_ptr<MonitorRecorder>> seen;
        std::map<QString, int> downAtLine;
        for (int site = 1; site <= sites; ++site) {
            core::Monitor* run = hub.runningSite(site);
            QVERIFY(run && run == hub.existingSiteRun(site));
            const QString address = run->settings().webAddress;
            seen[address] = std::make_unique<MonitorRecorder>(*run);
            connect(run, &core::Monitor::siteChanged, this,
                    [&, address] { downAtLine.emplace(address, int(seen[address]->lines.size())); });
        }
        const auto noRuleLeft = qScopeGuard([] { runCommand("nft", {"delete", "table", "ip", "outage"}); });
        QTRY_VERIFY_WITH_TIMEOUT(
            std::all_of(seen.begin(), seen.end(), [](auto& each) { return each.second->lines.size() >= 2; }), 10000);
        QCOMPARE(runCommand("nft", {"-f", "-"},
                            ("table ip outage {\n chain input {\n type filter hook input priority 0;\n ip daddr { " +
                             dropped.join(u", ") + " } icmp type echo-request drop\n }\n}\n")
                                .toLatin1()),
                 QString());
        QTRY_COMPARE_WITH_TIMEOUT(int(downAtLine.size()), int(dropped.size()), 10000);
        QTRY_COMPARE_WITH_TIMEOUT(int(sink.messages().size()), int(subjects.size()), 20000);
        hub.stopAll();
        QTRY_COMPARE_WITH_TIMEOUT(hub.watchedCount(), 0, 5000);

        // Changes that happen together may be seen in either order: subjects are compared with their sites sorted.
        static const QRegularExpression subjectLine(QStringLiteral("Subject: ?([^\\r]*)\\r\\n"));
        QStringList got;
        for (const QString& message : sink.messages()) {
            QString subject = subjectLine.match(message).captured(1);
            if (const qsizetype at = subject.indexOf(QStringLiteral(" - ")); at >= 0) {
                QStringList named = subject.mid(at + 3).split(QStringLiteral(", "));
                named.sort();
                subject = subject.left(at + 3) + named.join(QStringLiteral(", "));
            }
            got.append(subject);
            for (const QString& address : dropped) {
                // The lines up to the failing check, from the site's own record file.
                if (sites == 1 || subject.contains(address))
                    QVERIFY2(message.contains(attached(seen[address]->lines.first(downAtLine[address]))),
                             qPrintable(message));
            }
        }
        got.sort();
        QCOMPARE(got, subjects);
        for (int site = 1; site <= sites; ++site) {
            // Every line shown reached the site's own numbered log, which no run holds open any more.
            QFile log(m_dir->filePath(QStringLiteral("logs/site-%1/000001.log").arg(site)));
            QVERIFY2(log.open(QIODevice::ReadOnly), qPrintable(log.fileName()));
            const QString address = QStringLiteral("127.0.0.%1").arg(site);
            QCOMPARE(log.readAll().count("\r\n"), seen[address]->lines.size());
            QCOMPARE(seen[address]->messageTexts(), QStringList{QStringLiteral("Scan Stopped")});
        }
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
        QTRY_VERIFY(m_hub->notifications().isIdle());
    }
};

QTEST_GUILESS_MAIN(TestMonitor)
#include "tst_monitor.moc"
