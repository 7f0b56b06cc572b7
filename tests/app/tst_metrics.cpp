#include "store/FixedText.h"
#include "store/SiteSettings.h"
#include "support/PrivateNetwork.h"
#include "support/ProgramFolder.h"

#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <memory>
#include <vector>

using namespace sondrel;

namespace {

// A client on loopback that sends its bytes as soon as it is connected and collects everything until it is closed.
struct Client {
    Client(quint16 port, const QByteArray& request)
    {
        socket.setProxy(QNetworkProxy::NoProxy);
        QObject::connect(&socket, &QIODevice::readyRead, [this] { received += socket.readAll(); });
        socket.connectToHost(QHostAddress::LocalHost, port);
        socket.write(request);
    }
    bool closed() const { return socket.state() == QAbstractSocket::UnconnectedState; }
    QTcpSocket socket;
    QByteArray received;
};

// A port nobody listens on in the private network, for a server that is told which one to take.
quint16 freePort()
{
    QTcpServer server;
    return server.listen(QHostAddress::LocalHost, 0) ? server.serverPort() : 0;
}

// A figure of /proc/PID/status in kB, such as VmRSS or VmHWM; -1 when it cannot be read.
qint64 statusKb(qint64 pid, const QByteArray& field)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith(field + ':'))
            return line.mid(field.size() + 1).trimmed().split(' ').front().toLongLong();
    }
    return -1;
}

} // namespace

// The program run with --metrics as a server runs it, scraped by a real Prometheus that evaluates the shipped alert
// rules, all inside a private network where only loopback answers and the echo replies of 127.0.0.3 are dropped.
class TestMetrics : public QObject {
    Q_OBJECT
private:
    std::unique_ptr<QTemporaryDir> m_watching, m_attacked, m_work; // two program folders, the other servers' files
    QProcess m_pages, m_sondrel, m_prometheus;
    quint16 m_pagePort = 0, m_sondrelPort = 0, m_prometheusPort = 0;
    QNetworkAccessManager m_network;

    struct Answer {
        int status = 0;
        QByteArray body;
    };
    // A GET on loopback with no Accept header; status 0 when no answer came.
    Answer get(quint16 port, const QString& pathAndQuery)
    {
        QNetworkRequest request(QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(port).arg(pathAndQuery)));
        request.setTransferTimeout(10000);
        const std::unique_ptr<QNetworkReply> reply(m_network.get(request));
        QSignalSpy finished(reply.get(), &QNetworkReply::finished);
        if (!reply->isFinished() && !finished.wait(15000))
            return {};
        return {reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), reply->readAll()};
    }
    QJsonValue prometheusData(const QString& pathAndQuery)
    {
        return QJsonDocument::fromJson(get(m_prometheusPort, pathAndQuery).body).object().value(u"data");
    }
    // An instant query's samples of job sondrel, value by site label.
    QMap<QString, double> querySites(const QString& expression)
    {
        QMap<QString, double> bySite;
        const QJsonArray result = prometheusData(QStringLiteral("/api/v1/query?query=") +
                                                 QString::fromLatin1(QUrl::toPercentEncoding(expression)))
                                      .toObject()[u"result"]
                                      .toArray();
        for (const QJsonValue& sample : result) {
            const QJsonObject metric = sample[u"metric"].toObject();
            if (metric[u"job"].toString() == u"sondrel")
                bySite.insert(metric[u"site"].toString(), sample[u"value"][1].toString().toDouble());
        }
        return bySite;
    }

    static void saveSite(const QString& folder, int slot, const QString& address, const QString& pageText = {})
    {
        store::SiteSettings site;
        site.webAddress = address;
        site.packetString = QStringLiteral("Are you there?");
        site.interval = 1;
        site.connectionType = store::storedBool(true);
        site.mainSiteString = pageText;
        site.checkMainPage = store::storedBool(!pageText.isEmpty());
        QVERIFY(store::SiteSettingsFile(folder).save(slot, site));
    }
    // A program folder of its own with a copy of the program, so that the run's files are the test's.
    static std::unique_ptr<QTemporaryDir> programFolder()
    {
        auto folder = test::newProgramFolder();
        if (folder->isValid() && !QFile::copy(qEnvironmentVariable("SONDREL_PROGRAM"), folder->filePath("sondrel")))
            folder->remove();
        return folder;
    }
    // Starts the folder's copy windowless on the sites with --metrics 127.0.0.1:0 and learns the port it took.
    static void startSondrel(QProcess& process, const QString& folder, const QStringList& sites, quint16& port)
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
            environment.remove(QString::fromLatin1(name));
        process.setProcessEnvironment(environment);
        QStringList arguments{QStringLiteral("--no-window"), QStringLiteral("--metrics"),
                              QStringLiteral("127.0.0.1:0")};
        for (const QString& site : sites)
            arguments << QStringLiteral("--site") << site;
        process.start(folder + QStringLiteral("/sondrel"), arguments);
        QVERIFY(process.waitForStarted(10000));
        static const QRegularExpression serving(
            QStringLiteral("Serving metrics on 127\\.0\\.0\\.1:([0-9]+) at /metrics\n"));
        QByteArray said;
        QRegularExpressionMatch match;
        QTRY_VERIFY_WITH_TIMEOUT(
            (said += process.readAllStandardError(), match = serving.match(QString::fromLocal8Bit(said))).hasMatch(),
            20000);
        port = quint16(match.captured(1).toUInt());
    }
    static void stop(QProcess& process)
    {
        if (process.state() == QProcess::NotRunning)
            return;
        process.terminate();
        if (!process.waitForFinished(20000))
            process.kill();
        process.waitForFinished(5000);
    }

private slots:
    // Site 1 answers its echo and its page, on a real HTTP server, holds the text looked for; the echo replies of
    // site 2 are dropped. Prometheus scrapes the copy that watches both from here on, evaluating the shipped rules.
    void initTestCase()
    {
        const QString why = test::enterPrivateNetwork();
        if (!why.isEmpty())
            QSKIP(qPrintable(QStringLiteral("needs a private network namespace: ") + why));
        for (const char* tool : {"prometheus", "promtool", "python3"}) {
            if (QStandardPaths::findExecutable(QString::fromLatin1(tool)).isEmpty())
                QSKIP(qPrintable(QStringLiteral("needs %1 (packages prometheus and python3)").arg(tool)));
        }
        m_network.setProxy(QNetworkProxy::NoProxy);
        // A default route over a veth pair makes the system report a connection; every echo still goes to loopback.
        const QString route = test::addDefaultRoute();
        QVERIFY2(route.isEmpty(), qPrintable(route));
        const QString rules = test::dropEchoRepliesFrom(QStringLiteral("127.0.0.3"));
        QVERIFY2(rules.isEmpty(), qPrintable(rules));

        m_work = std::make_unique<QTemporaryDir>();
        QVERIFY(m_work->isValid());
        QVERIFY(QDir(m_work->path()).mkpath(QStringLiteral("www")) && QDir(m_work->path()).mkpath("tsdb"));
        QFile index(m_work->filePath(QStringLiteral("www/index.html")));
        QVERIFY(index.open(QIODevice::WriteOnly) && index.write("<html><body>Welcome to site one</body></html>\n") > 0);
        index.close();
        m_pagePort = freePort();
        m_pages.setStandardOutputFile(QProcess::nullDevice());
        m_pages.setStandardErrorFile(QProcess::nullDevice());
        m_pages.start(QStringLiteral("python3"), {"-m", "http.server", QString::number(m_pagePort), "--bind",
                                                  "127.0.0.1", "--directory", m_work->filePath(QStringLiteral("www"))});
        QVERIFY(m_pages.waitForStarted(10000));
        QTRY_COMPARE_WITH_TIMEOUT(get(m_pagePort, QStringLiteral("/")).status, 200, 20000);

        m_watching = programFolder();
        QVERIFY(m_watching->isValid());
        saveSite(m_watching->path(), 1, QStringLiteral("127.0.0.1:%1").arg(m_pagePort), QStringLiteral("welcome"));
        saveSite(m_watching->path(), 2, QStringLiteral("127.0.0.3"));
        startSondrel(m_sondrel, m_watching->path(), {"1", "2"}, m_sondrelPort);
        if (QTest::currentTestFailed())
            return;

        m_prometheusPort = freePort();
        const QString alerts = qEnvironmentVariable("SONDREL_SOURCE_DIR") + "/docs/prometheus/sondrel-alerts.yml";
        QFile config(m_work->filePath(QStringLiteral("prometheus.yml")));
        QVERIFY(config.open(QIODevice::WriteOnly));
        config.write(QStringLiteral("global:\n  scrape_interval: 1s\n  scrape_timeout: 1s\n  evaluation_interval: 1s\n"
                                    "rule_files:\n  - \"%1\"\n"
                                    "scrape_configs:\n  - job_name: sondrel\n    static_configs:\n"
                                    "      - targets: [\"127.0.0.1:%2\"]\n")
                         .arg(alerts)
                         .arg(m_sondrelPort)
                         .toUtf8());
        config.close();
        m_prometheus.setProcessChannelMode(QProcess::ForwardedChannels);
        m_prometheus.start(QStringLiteral("prometheus"),
                           {"--config.file=" + config.fileName(), "--storage.tsdb.path=" + m_work->filePath("tsdb"),
                            QStringLiteral("--web.listen-address=127.0.0.1:%1").arg(m_prometheusPort),
                            QStringLiteral("--log.level=error")});
        QVERIFY(m_prometheus.waitForStarted(10000));
        QTRY_COMPARE_WITH_TIMEOUT(get(m_prometheusPort, QStringLiteral("/-/ready")).status, 200, 30000);
    }

    void cleanupTestCase()
    {
        for (QProcess* process : {&m_prometheus, &m_sondrel, &m_pages})
            stop(*process);
    }

    // The page in the Prometheus text format shows each site's checks, the page check's state and time included,
    // and promtool takes it as it takes the shipped rules and configuration.
    void page_showsBothSites_andPromtoolTakesItWithTheShippedFiles()
    {
        const QByteArray pageState =
            "sondrel_page_state{site=\"1\",address=\"127.0.0.1:" + QByteArray::number(m_pagePort) +
            "\",sondrel_page_state=\"WSOK\"} 1\n";
        Answer page;
        QTRY_VERIFY_WITH_TIMEOUT((page = get(m_sondrelPort, QStringLiteral("/metrics")),
                                  page.body.contains(pageState) && page.body.contains("probe_http_duration_seconds{") &&
                                      page.body.contains("probe_success{site=\"2\",address=\"127.0.0.3\"} 0\n")),
                                 30000);
        QCOMPARE(page.status, 200);
        QVERIFY(page.body.contains("probe_success{site=\"1\""));
        QVERIFY(!page.body.contains("# EOF"));
        const QString checked = test::runCommand(QStringLiteral("promtool"),
                                                 {QStringLiteral("check"), QStringLiteral("metrics")}, page.body);
        QVERIFY2(checked.isEmpty(), qPrintable(checked));

        const QString shipped = qEnvironmentVariable("SONDREL_SOURCE_DIR") + QStringLiteral("/docs/prometheus/");
        for (const QStringList& check : {QStringList{"check", "rules", shipped + "sondrel-alerts.yml"},
                                         QStringList{"check", "config", shipped + "prometheus.yml"}}) {
            const QString failed = test::runCommand(QStringLiteral("promtool"), check);
            QVERIFY2(failed.isEmpty(), qPrintable(check.join(u' ') + u' ' + failed));
        }
    }

    // Prometheus takes the page in OpenMetrics, which alone tells a state set from a gauge, and reads each site.
    void prometheus_scrapesOpenMetrics_andReadsEachSite()
    {
        QTRY_COMPARE_WITH_TIMEOUT(querySites(QStringLiteral("probe_success")),
                                  (QMap<QString, double>{{"1", 1.0}, {"2", 0.0}}), 30000);
        QCOMPARE(querySites(QStringLiteral("up")), (QMap<QString, double>{{"", 1.0}}));
        const QJsonArray targets =
            prometheusData(QStringLiteral("/api/v1/targets")).toObject()[u"activeTargets"].toArray();
        QCOMPARE(targets.size(), 1);
        QCOMPARE(targets[0][u"health"].toString(), QStringLiteral("up"));
        QCOMPARE(targets[0][u"lastError"].toString(), QString());
        const QJsonValue metadata = prometheusData(QStringLiteral("/api/v1/metadata?metric=sondrel_page_state"));
        QCOMPARE(metadata[u"sondrel_page_state"][0][u"type"].toString(), QStringLiteral("stateset"));
    }

    // A second copy is sent an oversized request line, a client that sends a byte a second, 500 connections at once
    // and a path it does not serve, all together: each is ended, the page is still served afterwards, and the
    // result lines go on coming each second, with memory to match.
    void badRequests_leaveTheChecksOnTime_andMemoryBounded()
    {
        m_attacked = programFolder();
        QVERIFY(m_attacked->isValid());
        saveSite(m_attacked->path(), 1, QStringLiteral("127.0.0.1"));
        QProcess sondrel;
        const auto stopped = qScopeGuard([&] { stop(sondrel); });
        quint16 port = 0;
        startSondrel(sondrel, m_attacked->path(), {"1"}, port);
        if (QTest::currentTestFailed())
            return;
        QElapsedTimer clock;
        clock.start();
        std::vector<qint64> lineTimes;
        connect(&sondrel, &QProcess::readyReadStandardOutput, this, [&] {
            while (sondrel.canReadLine()) {
                sondrel.readLine();
                lineTimes.push_back(clock.elapsed());
            }
        });
        QTRY_VERIFY_WITH_TIMEOUT(lineTimes.size() >= 2, 20000);
        const qint64 rssBefore = statusKb(sondrel.processId(), "VmRSS");
        QVERIFY(rssBefore > 0);
        const qint64 attackStart = clock.elapsed();

        Client huge(port, "GET /" + QByteArray(1 << 20, 'a') + " HTTP/1.1\r\nHost: x\r\n\r\n");
        Client elsewhere(port, "GET /etc/passwd HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n");
        const QByteArray slowRequest = "GET /metrics?" + QByteArray(40, 'a') + " HTTP/1.1\r\n\r\n";
        Client slow(port, {});
        int slowSent = 0;
        QTimer trickle;
        connect(&trickle, &QTimer::timeout, this, [&] {
            if (slow.socket.state() == QAbstractSocket::ConnectedState && slowSent < slowRequest.size())
                slow.socket.write(slowRequest.mid(slowSent++, 1));
        });
        trickle.start(1000);
        // Each starts a request, so that one the system dropped while its queue of new connections was full is
        // sent again, or is reset, rather than left waiting for an answer that cannot come.
        std::vector<std::unique_ptr<Client>> crowd;
        for (int i = 0; i < 500; ++i)
            crowd.push_back(std::make_unique<Client>(port, "GET /metrics HTTP/1.1\r\n"));

        // The connections let in are closed 10 s after they came without a whole request, the byte-a-second one
        // included; the rest are turned away at once.
        QTRY_VERIFY_WITH_TIMEOUT(huge.closed() && elsewhere.closed() && slow.closed() &&
                                     std::all_of(crowd.begin(), crowd.end(), [](const auto& c) { return c->closed(); }),
                                 30000);
        trickle.stop();
        QVERIFY2(slowSent >= 5 && slowSent < slowRequest.size(), qPrintable(QString::number(slowSent)));
        QVERIFY(slow.received.isEmpty());
        // The reset that ends the oversized request, its rest unread, may overtake its answer.
        QVERIFY2(huge.received.isEmpty() || huge.received.startsWith("HTTP/1.1 431"), huge.received.left(100));
        QVERIFY2(elsewhere.received.startsWith("HTTP/1.1 404"), elsewhere.received.left(100));
        const auto turnedAway = std::count_if(crowd.begin(), crowd.end(),
                                              [](const auto& c) { return c->received.startsWith("HTTP/1.1 503"); });
        const auto unanswered =
            std::count_if(crowd.begin(), crowd.end(), [](const auto& c) { return c->received.isEmpty(); });
        QCOMPARE(turnedAway + unanswered, 500);
        // At most the 16 let in at once, and two more if the oversized and the unserved requests ended first.
        QVERIFY2(unanswered <= 18, qPrintable(QString::number(unanswered)));

        const Answer after = get(port, QStringLiteral("/metrics"));
        QCOMPARE(after.status, 200);
        QVERIFY(after.body.contains("probe_success{site=\"1\",address=\"127.0.0.1\"} 1\n"));

        lineTimes.push_back(clock.elapsed());
        qint64 longestGap = 0;
        for (std::size_t i = 1; i < lineTimes.size(); ++i) {
            if (lineTimes[i] > attackStart)
                longestGap = std::max(longestGap, lineTimes[i] - std::max(lineTimes[i - 1], attackStart));
        }
        QVERIFY2(longestGap <= 3000, qPrintable(QStringLiteral("%1 ms without a result line").arg(longestGap)));
        const qint64 peak = statusKb(sondrel.processId(), "VmHWM");
        QVERIFY2(peak - rssBefore <= 32 * 1024,
                 qPrintable(QStringLiteral("%1 kB, then a peak of %2 kB").arg(rssBefore).arg(peak)));
    }

    // The site whose echo replies are dropped fires the shipped SondrelSiteDown alert after its 2 minutes; the
    // other never does. It comes last, since the alert needs those minutes of scrapes.
    void siteNotAnswering_firesTheShippedSiteDownAlert()
    {
        const QString firing = QStringLiteral("ALERTS{alertname=\"SondrelSiteDown\",alertstate=\"firing\"}");
        QTRY_VERIFY_WITH_TIMEOUT(!querySites(firing).isEmpty(), 170000);
        QCOMPARE(querySites(firing), (QMap<QString, double>{{"2", 1.0}}));
        QCOMPARE(querySites(QStringLiteral("ALERTS{alertname=\"SondrelSiteDown\"}")).keys(), QStringList{"2"});
        const QJsonArray alerts = prometheusData(QStringLiteral("/api/v1/alerts")).toObject()[u"alerts"].toArray();
        QCOMPARE(alerts.size(), 1);
        QCOMPARE(alerts[0][u"labels"][u"address"].toString(), QStringLiteral("127.0.0.3"));
        QCOMPARE(alerts[0][u"state"].toString(), QStringLiteral("firing"));
    }
};

QTEST_GUILESS_MAIN(TestMetrics)
#include "tst_metrics.moc"
