#include "core/Monitor.h"
#include "platform/QtHttpClient.h"
#include "support/MonitorFixture.h"
#include "support/TestCertificates.h"

#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>

using namespace sondrel;
using namespace sondrel::test;

// Whole runs: the site turning slow and fast again by the echo's trip time or by fetching the page from a real
// server, and the certificate of an https page nearing its expiry. Each run checks without a wait and ends when
// the test stops it.
class TestSiteWarnings : public QObject, private MonitorFixture {
    Q_OBJECT
private:
    QProcess m_server;
    std::unique_ptr<platform::QtHttpClient> m_http;
    QStringList m_changes; // "slow@N detail" or "fast@N detail", N being the check that caused it

    // Starts tests/probe/page_server.py with the given options; the port it listens on, or 0.
    int startPageServer(const QStringList& options)
    {
        QSignalSpy ready(&m_server, &QProcess::readyReadStandardOutput);
        m_server.start("python3",
                       QStringList{qEnvironmentVariable("SONDREL_SOURCE_DIR") + "/tests/probe/page_server.py"} +
                           options);
        while (!m_server.canReadLine())
            if (!ready.wait(10000))
                return 0;
        const QByteArray line = m_server.readLine().trimmed();
        return line.startsWith("PORT ") ? line.mid(5).toInt() : 0;
    }
    // A monitor on the fakes, with a real HTTP client when authorities are given or asked for.
    core::Monitor& open(std::optional<QList<QSslCertificate>> authorities = std::nullopt)
    {
        if (authorities) {
            m_http = std::make_unique<platform::QtHttpClient>(*authorities);
            const platform::Services f = m_fakes->services();
            openMonitor(platform::Services{f.messages, f.clock, f.connection, f.echo, f.resolver, *m_http, f.tcp,
                                           f.shell, f.secrets});
        } else {
            openMonitor();
        }
        connect(m_monitor, &core::Monitor::slownessChanged, this, [this](bool slow, const QString& detail) {
            m_changes.append(u"%1@%2 %3"_qs.arg(slow ? "slow" : "fast").arg(m_seen->checkNumbers.size()).arg(detail));
        });
        return *m_monitor;
    }
    void run(core::MonitorSettings settings)
    {
        settings.intervalSeconds = 0;
        settings.autoDisconnect = false;
        QVERIFY(m_monitor->start(settings));
        QTRY_VERIFY_WITH_TIMEOUT(!m_seen->ends.isEmpty(), 30000);
    }

private slots:
    void init()
    {
        QVERIFY(renewFixture());
        m_changes.clear();
    }
    void cleanup()
    {
        renewFixture();
        m_http.reset();
        m_server.kill();
        m_server.waitForFinished(5000);
    }

    // Each number is one check's trip time; "-" is an echo that got no answer.
    void tripTimes_turnSlowAndFastAfterChecksInARow_data()
    {
        QTest::addColumn<QString>("trips");
        QTest::addColumn<int>("slowMs");
        QTest::addColumn<int>("inARow");
        QTest::addColumn<QStringList>("changes");
        const QString slowAt = u"slow@%1 trip time 900 ms over 500 ms in 2 checks in a row"_qs;
        const QString fastAt = u"fast@%1 trip time 10 ms within 500 ms in 2 checks in a row"_qs;
        QTest::newRow("slow, then fast again")
            << "900 900 900 10 10" << 500 << 2 << QStringList{slowAt.arg(2), fastAt.arg(5)};
        QTest::newRow("failures leave the count")
            << "900 - 900 10 - 10" << 500 << 2 << QStringList{slowAt.arg(3), fastAt.arg(6)};
        QTest::newRow("the other kind breaks the row")
            << "900 10 900 900 10 900 10 10" << 500 << 2 << QStringList{slowAt.arg(4), fastAt.arg(8)};
        QTest::newRow("one check; the limit itself is not slow")
            << "500 501 499" << 500 << 1
            << QStringList{"slow@2 trip time 501 ms over 500 ms", "fast@3 trip time 499 ms within 500 ms"};
        QTest::newRow("no limit") << "900 900 900" << 0 << 1 << QStringList{};
    }
    void tripTimes_turnSlowAndFastAfterChecksInARow()
    {
        QFETCH(QString, trips);
        QFETCH(int, slowMs);
        QFETCH(int, inARow);
        QFETCH(QStringList, changes);
        core::Monitor& monitor = open();
        QStringList left = trips.split(u' ');
        m_fakes->echo.nextReply = [&](quint32 address, const QByteArray& payload) {
            EchoReply reply = FakeIcmpEcho::echoOf(address, payload);
            const QString trip = left.takeFirst();
            reply.status = trip == u"-" ? IpStatus::ReqTimedOut : IpStatus::Success;
            reply.tripTime = trip.toInt();
            if (left.isEmpty())
                monitor.stop();
            return reply;
        };
        core::MonitorSettings settings;
        settings.webAddress = QStringLiteral("127.0.0.1");
        settings.alerts.slowMs = slowMs;
        settings.alerts.failuresBeforeAlert = inARow;
        run(settings);
        QCOMPARE(m_seen->checkNumbers.size(), trips.split(u' ').size());
        QCOMPARE(m_changes, changes);
    }

    // The server answers 700 ms late until the site is reported slow, and at once from then on.
    void slowPageFetch_warnsOnceAfterTwoChecks_andOnceWhenQuickAgain()
    {
        QTemporaryDir control;
        QVERIFY(control.isValid());
        const QString delayFile = control.filePath(QStringLiteral("delay"));
        auto setDelay = [&](const QByteArray& ms) {
            QFile file(delayFile);
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write(ms) == ms.size());
        };
        setDelay("700");
        const int port = startPageServer({"--delay-file", delayFile});
        QVERIFY2(port > 0, m_server.readAllStandardError().constData());
        core::Monitor& monitor = open(QList<QSslCertificate>());
        connect(&monitor, &core::Monitor::slownessChanged, this, [&](bool slow) {
            if (slow)
                setDelay("0");
            else
                monitor.stop();
        });
        core::MonitorSettings settings;
        settings.webAddress = u"http://127.0.0.1:%1/delayed"_qs.arg(port);
        settings.checkMainPage = true;
        settings.mainSiteString = QStringLiteral("Delayed page");
        settings.alerts.slowMs = 300;
        settings.alerts.failuresBeforeAlert = 2;
        run(settings);

        QCOMPARE(m_changes.size(), 2);
        const auto slow =
            QRegularExpression("^slow@2 page fetch (\\d+) ms over 300 ms in 2 checks in a row$").match(m_changes[0]);
        QVERIFY2(slow.hasMatch() && slow.captured(1).toInt() >= 700, qPrintable(m_changes[0]));
        QVERIFY2(QRegularExpression("^fast@4 trip time 0 ms and page fetch \\d+ ms within 300 ms in 2 checks in a row$")
                     .match(m_changes[1])
                     .hasMatch(),
                 qPrintable(m_changes[1]));
        QVERIFY(m_seen->lines.last().endsWith(u" WSOK"));
    }

    // An https page whose certificate, from an authority the test trusts, expires in 3 days: three checks in one
    // day, then one more a day later by the monotonic clock.
    void expiringCertificate_warnsOnceADay_data()
    {
        QTest::addColumn<int>("certificateDays");
        QTest::addColumn<QList<int>>("warnedAtChecks");
        QTest::newRow("warning period 7 days") << 7 << QList<int>{1, 4};
        QTest::newRow("warning period 2 days") << 2 << QList<int>{};
        QTest::newRow("no warning period") << 0 << QList<int>{};
    }
    void expiringCertificate_warnsOnceADay()
    {
        QFETCH(int, certificateDays);
        QFETCH(QList<int>, warnedAtChecks);
        if (!QSslSocket::supportsSsl())
            QSKIP("no TLS backend");
        TestCertificates certificates;
        const QString notMade = certificates.make();
        if (!notMade.isEmpty())
            QSKIP(qPrintable(notMade));
        QVERIFY(certificates.makeSigned(QStringLiteral("expiring"), 3).isEmpty());
        const QString served = certificates.file(QStringLiteral("expiring.pem"));
        const QDateTime expiry = QSslCertificate::fromPath(served).value(0).expiryDate();
        QVERIFY(expiry.isValid());
        const int port =
            startPageServer({"--cert", served, "--key", certificates.file(QStringLiteral("expiring.key"))});
        QVERIFY2(port > 0, m_server.readAllStandardError().constData());

        core::Monitor& monitor = open(certificates.authority());
        QList<int> warned;
        QStringList told;
        connect(&monitor, &core::Monitor::certificateExpiring, this, [&](const QDateTime& at, const QString& issuer) {
            warned.append(int(m_seen->checkNumbers.size()));
            told.append(at.toUTC().toString(Qt::ISODate) + u' ' + issuer);
        });
        m_fakes->echo.nextReply = [&](quint32 address, const QByteArray& payload) {
            if (m_fakes->echo.sendCount == 4) {
                m_fakes->clock.offsetMs += 24LL * 60 * 60 * 1000;
                monitor.stop();
            }
            return FakeIcmpEcho::echoOf(address, payload);
        };
        core::MonitorSettings settings;
        settings.webAddress = u"https://127.0.0.1:%1/case"_qs.arg(port);
        settings.checkMainPage = true;
        settings.mainSiteString = QStringLiteral("Status Page");
        settings.alerts.certificateDays = certificateDays;
        run(settings);

        QCOMPARE(m_seen->checkNumbers.size(), 4);
        QVERIFY2(m_seen->lines.last().endsWith(u" WSOK"), qPrintable(m_seen->lines.last()));
        QCOMPARE(warned, warnedAtChecks);
        for (const QString& each : told)
            QCOMPARE(each, expiry.toUTC().toString(Qt::ISODate) + u" Sondrel Test Authority, Sondrel Tests"_qs);
    }
};

QTEST_GUILESS_MAIN(TestSiteWarnings)
#include "tst_sitewarnings.moc"
