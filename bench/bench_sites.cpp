// The real program watching thousands of saved sites at once with no window: `sondrel --no-window --all-sites`
// (build it in Release) over SITES sites 127.0.x.y, one check a minute each, inside a private network namespace of
// its own where every such address answers on loopback. From outside it measures how late each check came against
// its interval (from the arrival of each site's result lines on the program's standard output), the program's
// processor time per minute (/proc/PID/stat), its peak resident memory (VmHWM) and its open descriptors (sampled
// every 5 s), and whether every printed line reached its site's log. Then fping loops over the same addresses, a
// minute apart, in the same namespace for as long, and its processor time is set beside the program's. Run as root
// with fping installed (bash scripts/ensure-packages.sh fping).
//
// With --scrape the program also serves its metrics (--metrics 127.0.0.1:0, the port read from its standard error)
// and, from its first result line on, the benchmark scrapes GET /metrics once a second over one keep-alive loopback
// connection, as Prometheus would: the scrapes alternate between Prometheus's own Accept header, which gets
// OpenMetrics, and one that asks for the text format, so that neither finds the page the other rendered. Each scrape
// is timed from its request to the last byte of its body. It prints the scrapes done and failed, the very first
// scrape's time (right after every site started), the scrape time's median, 99th percentile and maximum, each
// format's page bytes, and the scrape median and the lateness's 99th percentile against their goals (200 ms, 1 s),
// all beside the usual figures; fping is not run.
//
// bench_sites [--sites N] [--seconds S] [--program PATH] [--scrape]: N sites (default 10,000, at most 32767), S
// seconds of each run (default 300; the figures mean most from 300 on, a shorter run is a smoke test), PATH the
// sondrel binary (default: the one beside this benchmark). Prints figures; never fails on them.
#include "BenchSupport.h"
#include "store/FixedText.h"
#include "store/SiteSettings.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QHostAddress>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <array>
#include <cstdio>
#include <numeric>
#include <optional>
#include <vector>

#include <csignal>
#include <unistd.h>

using namespace sondrel;

namespace {

constexpr int kIntervalSeconds = 60;
constexpr int kSampleMs = 5000;
constexpr int kScrapeEveryMs = 1000;
constexpr int kScrapeTimeoutMs = 10000; // Prometheus's default scrape timeout
constexpr double kScrapeGoalMs = 200;
constexpr double kLatenessGoalMs = 1000;

// Site i (from 0) checks 127.0.x.y: y runs through 1..254, then x goes up by one, from 127.0.1.1.
QString siteAddress(int i)
{
    return QStringLiteral("127.0.%1.%2").arg(1 + i / 254).arg(1 + i % 254);
}

// utime + stime of the process in seconds, from /proc/PID/stat; -1 when it cannot be read.
double processCpuSeconds(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray text = stat.readAll();
    // The fields after the command name, which is in parentheses and may hold spaces: state is field 3.
    const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
    if (fields.size() < 13)
        return -1;
    return double(fields[11].toLongLong() + fields[12].toLongLong()) / double(::sysconf(_SC_CLK_TCK));
}

qsizetype openDescriptors(qint64 pid)
{
    return QDir(QStringLiteral("/proc/%1/fd").arg(pid)).entryList(QDir::NoDotAndDotDot | QDir::AllEntries).size();
}

// What is sampled of a running process every few seconds.
struct ProcessSamples {
    double startCpu = -1;       // at the first sample
    double cpuAtInterval = -1;  // once the first interval has passed: the first checks are spread over it
    double intervalSeconds = 0; // when cpuAtInterval was taken
    double lastCpu = 0;         // at the latest sample
    double lastSeconds = 0;
    qint64 peakKb = 0; // VmHWM
    qsizetype maxDescriptors = 0;
};

// Samples the process every kSampleMs until it ends or the caller stops the timer.
class Sampler {
public:
    Sampler(qint64 pid, const QElapsedTimer& clock, ProcessSamples& samples)
        : m_pid(pid)
        , m_clock(clock)
        , m_samples(samples)
    {
        QObject::connect(&m_timer, &QTimer::timeout, [this] { sample(); });
        sample();
        m_timer.start(kSampleMs);
    }
    void sample()
    {
        const double cpu = processCpuSeconds(m_pid);
        if (cpu < 0)
            return;
        const double seconds = double(m_clock.nsecsElapsed()) / 1e9;
        if (m_samples.startCpu < 0)
            m_samples.startCpu = cpu;
        if (m_samples.cpuAtInterval < 0 && seconds >= kIntervalSeconds) {
            m_samples.cpuAtInterval = cpu;
            m_samples.intervalSeconds = seconds;
        }
        m_samples.lastCpu = cpu;
        m_samples.lastSeconds = seconds;
        m_samples.peakKb = std::max(m_samples.peakKb, bench::statusKb("VmHWM", QString::number(m_pid)));
        m_samples.maxDescriptors = std::max(m_samples.maxDescriptors, openDescriptors(m_pid));
    }

private:
    qint64 m_pid;
    const QElapsedTimer& m_clock;
    ProcessSamples& m_samples;
    QTimer m_timer;
};

double percentile(std::vector<double>& values, double fraction)
{
    if (values.empty())
        return 0;
    const std::size_t at = std::min(values.size() - 1, std::size_t(fraction * double(values.size())));
    std::nth_element(values.begin(), values.begin() + std::ptrdiff_t(at), values.end());
    return values[at];
}

// The lines of every numbered log in logs/site-N/.
qint64 loggedLines(const QString& folder, int site)
{
    const QDir logs(QStringLiteral("%1/logs/site-%2").arg(folder).arg(site));
    qint64 lines = 0;
    for (const QString& name : logs.entryList({QStringLiteral("[0-9]*.log")}, QDir::Files)) {
        QFile log(logs.filePath(name));
        if (log.open(QIODevice::ReadOnly))
            lines += log.readAll().count('\n');
    }
    return lines;
}

// The two formats of the page, in the order the scrapes take them.
enum class PageFormat { OpenMetrics, Text };
constexpr std::array<const char*, 2> kFormatNames = {"OpenMetrics", "text format"};
constexpr std::array<const char*, 2> kAccept = {
    "application/openmetrics-text;version=1.0.0,application/openmetrics-text;version=0.0.1;q=0.75,"
    "text/plain;version=0.0.4;q=0.5,*/*;q=0.1",
    "text/plain;version=0.0.4;q=1,*/*;q=0.1"};

struct ScrapeFigures {
    std::array<std::vector<double>, 2> ms; // request to last byte of the body, of each scrape done, by format
    std::array<qint64, 2> lastBytes{};     // the body of the latest page of each format
    std::array<qint64, 2> mostBytes{};
    int failed = 0;
    int skipped = 0; // seconds at which the scrape before was still under way, so that none was sent
    int connections = 0;
    QString lastFailure;
    PageFormat firstFormat = PageFormat::OpenMetrics;
    double firstMs = -1;
    qint64 firstBytes = 0;
    QByteArray firstWatched; // the value of sondrel_watched_sites on the first page
};

// Scrapes GET /metrics on 127.0.0.1:port once a second from start() to stop(), one scrape at a time over a
// keep-alive connection that is opened again when the program closed it. Each answer is read as it comes and only
// its last bytes kept, with the body's length from Content-Length.
class Scraper {
public:
    Scraper(quint16 port, ScrapeFigures& figures)
        : m_port(port)
        , m_figures(figures)
    {
        QObject::connect(&m_socket, &QTcpSocket::connected, [this] { sendRequest(); });
        QObject::connect(&m_socket, &QIODevice::readyRead, [this] { read(); });
        QObject::connect(&m_socket, &QAbstractSocket::errorOccurred, [this](QAbstractSocket::SocketError) {
            if (m_underWay)
                fail(m_socket.errorString());
        });
        m_deadline.setSingleShot(true);
        QObject::connect(&m_deadline, &QTimer::timeout,
                         [this] { fail(QStringLiteral("no whole answer within %1 ms").arg(kScrapeTimeoutMs)); });
        m_every.setTimerType(Qt::PreciseTimer);
        QObject::connect(&m_every, &QTimer::timeout, [this] {
            if (m_underWay)
                ++m_figures.skipped;
            else
                scrape();
        });
    }

    void start()
    {
        scrape();
        m_every.start(kScrapeEveryMs);
    }
    // A scrape still under way is left out of the figures.
    void stop()
    {
        m_every.stop();
        m_deadline.stop();
        m_underWay = false;
        m_socket.abort();
    }

private:
    static constexpr qsizetype kKeptBytes = 4096;

    void scrape()
    {
        m_underWay = true;
        m_format = m_next;
        m_next = m_next == PageFormat::OpenMetrics ? PageFormat::Text : PageFormat::OpenMetrics;
        m_head.clear();
        m_tail.clear();
        m_bodyBytes = -1;
        m_received = 0;
        m_deadline.start(kScrapeTimeoutMs);
        if (m_socket.state() == QAbstractSocket::ConnectedState) {
            sendRequest();
        } else {
            m_socket.abort();
            ++m_figures.connections;
            m_socket.connectToHost(QHostAddress::LocalHost, m_port);
        }
    }

    void sendRequest()
    {
        if (!m_underWay)
            return;
        m_sent.start();
        m_socket.write("GET /metrics HTTP/1.1\r\nHost: 127.0.0.1:" + QByteArray::number(m_port) +
                       "\r\nUser-Agent: bench_sites\r\nAccept: " + kAccept[std::size_t(m_format)] + "\r\n\r\n");
    }

    void read()
    {
        QByteArray bytes = m_socket.readAll();
        if (!m_underWay)
            return;
        if (m_bodyBytes < 0) {
            m_head += bytes;
            const qsizetype end = m_head.indexOf("\r\n\r\n");
            if (end < 0) {
                if (m_head.size() > 65536)
                    fail(QStringLiteral("a header of more than 64 KiB"));
                return;
            }
            const QList<QByteArray> lines = m_head.left(end).split('\n');
            if (!lines.front().startsWith("HTTP/1.1 200")) {
                fail(QStringLiteral("answered ") + QString::fromLatin1(lines.front().trimmed()));
                return;
            }
            for (const QByteArray& line : lines) {
                if (line.toLower().startsWith("content-length:"))
                    m_bodyBytes = line.mid(15).trimmed().toLongLong();
            }
            if (m_bodyBytes < 0) {
                fail(QStringLiteral("an answer without Content-Length"));
                return;
            }
            bytes = m_head.mid(end + 4);
            m_head.clear();
        }
        m_received += bytes.size();
        m_tail = bytes.size() >= kKeptBytes ? bytes.right(kKeptBytes) : (m_tail + bytes).right(kKeptBytes);
        if (m_received >= m_bodyBytes)
            done();
    }

    void done()
    {
        const double ms = double(m_sent.nsecsElapsed()) / 1e6;
        m_underWay = false;
        m_deadline.stop();
        if (m_format == PageFormat::OpenMetrics && !m_tail.endsWith("\n# EOF\n")) {
            fail(QStringLiteral("an OpenMetrics page without # EOF at its end"));
            return;
        }
        const std::size_t format = std::size_t(m_format);
        if (m_figures.firstMs < 0) {
            m_figures.firstFormat = m_format;
            m_figures.firstMs = ms;
            m_figures.firstBytes = m_received;
            const qsizetype at = m_tail.indexOf("\nsondrel_watched_sites ");
            if (at >= 0)
                m_figures.firstWatched = m_tail.mid(at + 23, m_tail.indexOf('\n', at + 1) - at - 23);
        }
        m_figures.ms[format].push_back(ms);
        m_figures.lastBytes[format] = m_received;
        m_figures.mostBytes[format] = std::max(m_figures.mostBytes[format], m_received);
    }

    void fail(const QString& why)
    {
        ++m_figures.failed;
        m_figures.lastFailure = why;
        m_underWay = false;
        m_deadline.stop();
        m_socket.abort(); // what is left of the answer must not be read as the next one
    }

    quint16 m_port;
    ScrapeFigures& m_figures;
    QTcpSocket m_socket;
    QTimer m_every;
    QTimer m_deadline;
    QElapsedTimer m_sent;
    bool m_underWay = false;
    PageFormat m_format = PageFormat::OpenMetrics;
    PageFormat m_next = PageFormat::OpenMetrics;
    QByteArray m_head;
    QByteArray m_tail;
    qint64 m_bodyBytes = -1;
    qint64 m_received = 0;
};

void printScrapes(const ScrapeFigures& figures, double latenessP99)
{
    std::vector<double> all;
    for (const std::vector<double>& ms : figures.ms)
        all.insert(all.end(), ms.begin(), ms.end());
    std::printf("  scrapes of GET /metrics, one a second beside the run: %zu done, %d failed%s%s; %d not sent while "
                "the one before was under way; %d connection(s)\n",
                all.size(), figures.failed, figures.failed > 0 ? ", the latest for " : "",
                figures.failed > 0 ? qPrintable(figures.lastFailure) : "", figures.skipped, figures.connections);
    if (figures.firstMs >= 0) {
        std::printf("  the first scrape (%s), right after every site started: %.1f ms, %lld bytes, "
                    "sondrel_watched_sites %s\n",
                    kFormatNames[std::size_t(figures.firstFormat)], figures.firstMs,
                    static_cast<long long>(figures.firstBytes), figures.firstWatched.constData());
    }
    if (all.empty())
        return;
    const double median = percentile(all, 0.5);
    std::printf("  scrape time, request sent to last byte of the body: median %.1f ms, 99th percentile %.1f ms, "
                "maximum %.1f ms (goal: median < %.0f ms)\n",
                median, percentile(all, 0.99), *std::max_element(all.begin(), all.end()), kScrapeGoalMs);
    for (std::size_t format = 0; format < figures.ms.size(); ++format) {
        std::vector<double> ms = figures.ms[format];
        if (ms.empty())
            continue;
        std::printf("    %s: %zu scrapes, median %.1f ms, 99th percentile %.1f ms, maximum %.1f ms; page bytes "
                    "%lld at the latest, %lld at most\n",
                    kFormatNames[format], ms.size(), percentile(ms, 0.5), percentile(ms, 0.99),
                    *std::max_element(ms.begin(), ms.end()), static_cast<long long>(figures.lastBytes[format]),
                    static_cast<long long>(figures.mostBytes[format]));
    }
    std::printf("  against the goals: scrape median %.1f ms / %.0f ms = %.2f; lateness 99th percentile %.1f ms / "
                "%.0f ms = %.2f\n",
                median, kScrapeGoalMs, median / kScrapeGoalMs, latenessP99, kLatenessGoalMs,
                latenessP99 / kLatenessGoalMs);
}

struct SiteRun {
    int sites = 0;
    int seconds = 0;
    QString program;
    bool scrape = false; // serve the metrics and scrape them once a second
};

// Runs the program over run.sites sites for run.seconds and prints its figures; its processor time per minute, or
// -1 when it could not run.
double runProgram(const SiteRun& run, QTemporaryDir& folder)
{
    const QString copy = folder.filePath(QStringLiteral("sondrel"));
    if (!QFile::copy(run.program, copy)) {
        std::printf("cannot copy %s\n", qPrintable(run.program));
        return -1;
    }
    std::vector<std::pair<int, store::SiteSettings>> saved;
    saved.reserve(std::size_t(run.sites));
    for (int i = 0; i < run.sites; ++i) {
        store::SiteSettings site;
        site.webAddress = siteAddress(i);
        site.packetString = QStringLiteral("Bench");
        site.interval = kIntervalSeconds;
        site.connectionType = store::storedBool(true);
        saved.emplace_back(i + 1, site);
    }
    QString error;
    if (!store::SiteSettingsFile(folder.path()).saveMany(saved, &error)) {
        std::printf("cannot save the sites: %s\n", qPrintable(error));
        return -1;
    }

    QElapsedTimer clock;
    QProcess process;
    process.setProcessChannelMode(QProcess::SeparateChannels);
    clock.start();
    QStringList arguments = {QStringLiteral("--no-window"), QStringLiteral("--all-sites")};
    if (run.scrape)
        arguments << QStringLiteral("--metrics") << QStringLiteral("127.0.0.1:0");
    process.start(copy, arguments);
    if (!process.waitForStarted(10000)) {
        std::printf("the program did not start\n");
        return -1;
    }
    const qint64 pid = process.processId();
    std::vector<qint64> lastArrival(std::size_t(run.sites) + 1, -1);
    std::vector<qint64> printed(std::size_t(run.sites) + 1, 0);
    std::vector<double> lateness; // ms, of every check after a site's first
    qint64 otherLines = 0;
    qint64 firstLineNs = -1;
    const auto readLines = [&] {
        const qint64 now = clock.nsecsElapsed();
        while (process.canReadLine()) {
            const QByteArray line = process.readLine();
            const qsizetype close = line.indexOf("] ");
            const int site = line.startsWith('[') && close > 1 ? line.mid(1, close - 1).toInt() : 0;
            const bool check = site >= 1 && site <= run.sites && close + 2 < line.size() && line[close + 2] >= '0' &&
                               line[close + 2] <= '9';
            if (!check) {
                ++otherLines;
                continue;
            }
            if (firstLineNs < 0)
                firstLineNs = now;
            const std::size_t s = std::size_t(site);
            if (lastArrival[s] >= 0)
                lateness.push_back(double(now - lastArrival[s]) / 1e6 - kIntervalSeconds * 1000.0);
            lastArrival[s] = now;
            ++printed[s];
        }
    };
    QByteArray errorText;
    quint16 metricsPort = 0;
    ScrapeFigures scrapes;
    std::optional<Scraper> scraper;
    // Once the port is known and the first result line came, which is when every site has started.
    const auto startScraping = [&] {
        if (run.scrape && !scraper && metricsPort != 0 && firstLineNs >= 0) {
            scraper.emplace(metricsPort, scrapes);
            scraper->start();
        }
    };
    QObject::connect(&process, &QProcess::readyReadStandardOutput, [&] {
        readLines();
        startScraping();
    });
    QObject::connect(&process, &QProcess::readyReadStandardError, [&] {
        errorText += process.readAllStandardError();
        if (run.scrape && metricsPort == 0) {
            static const QRegularExpression serving(
                QStringLiteral("Serving metrics on 127\\.0\\.0\\.1:(\\d+) at /metrics"));
            if (const QRegularExpressionMatch match = serving.match(QString::fromLocal8Bit(errorText));
                match.hasMatch())
                metricsPort = quint16(match.captured(1).toUInt());
            startScraping();
        }
    });
    ProcessSamples samples;
    Sampler sampler(pid, clock, samples);
    bench::waitFor([&] { return process.state() == QProcess::NotRunning; }, run.seconds * 1000);
    sampler.sample();
    if (scraper)
        scraper->stop();
    const double endSeconds = double(clock.nsecsElapsed()) / 1e9;
    if (process.state() == QProcess::NotRunning) {
        errorText += process.readAllStandardError();
        std::printf("the program ended early with status %d: %s\n", process.exitCode(),
                    errorText.right(2000).constData());
        return -1;
    }
    QElapsedTimer stopping;
    stopping.start();
    process.terminate();
    const bool ended = bench::waitFor([&] { return process.state() == QProcess::NotRunning; }, 120000);
    const double stopSeconds = double(stopping.elapsed()) / 1000.0;
    readLines();
    errorText += process.readAllStandardError();
    const QList<QByteArray> errors = errorText.split('\n');
    const qsizetype stoppedLines = std::count_if(
        errors.begin(), errors.end(), [](const QByteArray& line) { return line.endsWith("] Scan Stopped"); });

    std::printf("\nsondrel --no-window --all-sites%s, %d sites, a check every %d s each, %.0f s\n",
                run.scrape ? " --metrics 127.0.0.1:0" : "", run.sites, kIntervalSeconds, endSeconds);
    std::printf("  first result line after %.2f s; sites that printed none: %lld\n", double(firstLineNs) / 1e9,
                static_cast<long long>(std::count(printed.begin() + 1, printed.end(), 0)));
    const qint64 lines = std::accumulate(printed.begin() + 1, printed.end(), qint64(0)); // the stop's lines too
    std::printf("  result lines %lld (%.1f a second), other lines on standard output %lld\n",
                static_cast<long long>(lines), double(lines) / endSeconds, static_cast<long long>(otherLines));
    double p99 = 0;
    if (!lateness.empty()) {
        const double count = double(lateness.size());
        const double median = percentile(lateness, 0.5);
        p99 = percentile(lateness, 0.99);
        const double worst = *std::max_element(lateness.begin(), lateness.end());
        const double earliest = *std::min_element(lateness.begin(), lateness.end());
        std::printf("  lateness of %.0f checks against the interval: median %.1f ms, 99th percentile %.1f ms, "
                    "maximum %.1f ms, earliest %.1f ms (goal: 99th percentile < 1000 ms)\n",
                    count, median, p99, worst, earliest);
    }
    const double minutes = (samples.lastSeconds) / 60.0;
    std::printf("  processor time %.2f s in %.1f min: %.2f s per minute (goal < 6)\n", samples.lastCpu, minutes,
                samples.lastCpu / minutes);
    if (samples.cpuAtInterval >= 0 && samples.lastSeconds > samples.intervalSeconds) {
        std::printf("  after the first interval (first checks spread over it): %.2f s per minute\n",
                    (samples.lastCpu - samples.cpuAtInterval) /
                        ((samples.lastSeconds - samples.intervalSeconds) / 60.0));
    }
    std::printf("  peak resident memory %.1f MB (goal < 200 MB)\n", double(samples.peakKb) / 1024.0);
    std::printf("  open descriptors, most seen: %lld (goal: far below %d)\n",
                static_cast<long long>(samples.maxDescriptors), run.sites);
    std::printf("  SIGTERM: %s after %.2f s with status %d; \"Scan Stopped\" told for %lld sites\n",
                ended ? "ended" : "NOT ended", stopSeconds, process.exitCode(), static_cast<long long>(stoppedLines));
    qint64 logged = 0;
    int differing = 0;
    for (int site = 1; site <= run.sites; ++site) {
        const qint64 inLogs = loggedLines(folder.path(), site);
        logged += inLogs;
        if (inLogs != printed[std::size_t(site)])
            ++differing;
    }
    std::printf("  lines in the sites' logs %lld against %lld printed; sites whose logs differ from what they "
                "printed: %d\n",
                static_cast<long long>(logged), static_cast<long long>(lines), differing);
    if (run.scrape) {
        if (metricsPort == 0)
            std::printf("  no \"Serving metrics on 127.0.0.1:PORT\" on standard error: no scrapes\n");
        else
            printScrapes(scrapes, p99);
    }
    return samples.lastCpu / minutes;
}

// fping over the same addresses, each once a minute, for as long; its processor time per minute, or -1.
double runFping(const SiteRun& run, QTemporaryDir& folder)
{
    const QString fping = QStandardPaths::findExecutable(QStringLiteral("fping"));
    if (fping.isEmpty()) {
        std::printf("\nfping is not installed (bash scripts/ensure-packages.sh fping): no comparison\n");
        return -1;
    }
    QFile targets(folder.filePath(QStringLiteral("targets")));
    if (!targets.open(QIODevice::WriteOnly))
        return -1;
    for (int i = 0; i < run.sites; ++i)
        targets.write(siteAddress(i).toLatin1() + '\n');
    targets.close();
    // One round of all the addresses takes at most half a minute with this spacing, so that each is pinged
    // once a minute as the program checks it.
    const int spacingMs = std::max(1, kIntervalSeconds * 1000 / 2 / run.sites);
    QProcess process;
    QElapsedTimer clock;
    clock.start();
    process.start(fping, {QStringLiteral("-l"), QStringLiteral("-q"), QStringLiteral("-p"),
                          QString::number(kIntervalSeconds * 1000), QStringLiteral("-i"), QString::number(spacingMs),
                          QStringLiteral("-f"), targets.fileName()});
    if (!process.waitForStarted(10000)) {
        std::printf("fping did not start\n");
        return -1;
    }
    ProcessSamples samples;
    Sampler sampler(process.processId(), clock, samples);
    bench::waitFor([&] { return process.state() == QProcess::NotRunning; }, run.seconds * 1000);
    sampler.sample();
    ::kill(pid_t(process.processId()), SIGINT); // fping prints its summary and ends
    bench::waitFor([&] { return process.state() == QProcess::NotRunning; }, 30000);
    const QList<QByteArray> summary = process.readAllStandardError().split('\n');
    const qsizetype answered = std::count_if(summary.begin(), summary.end(), [](const QByteArray& line) {
        return line.contains("%loss = ") && line.contains("/0%");
    });
    const double minutes = samples.lastSeconds / 60.0;
    std::printf("\nfping -l -q -p %d -i %d over the same %d addresses, %.0f s\n", kIntervalSeconds * 1000, spacingMs,
                run.sites, samples.lastSeconds);
    std::printf("  processor time %.2f s: %.2f s per minute; peak resident memory %.1f MB; addresses that answered "
                "every echo: %lld\n",
                samples.lastCpu, samples.lastCpu / minutes, double(samples.peakKb) / 1024.0,
                static_cast<long long>(answered));
    return samples.lastCpu / minutes;
}

} // namespace

int main(int argc, char* argv[])
{
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    // The namespace comes before the application, whose threads would stay outside it.
    const QString network = bench::enterPrivateNetwork();
    QCoreApplication application(argc, argv);
    if (!network.isEmpty()) {
        std::printf("cannot make a private network namespace (%s): run as root\n", qPrintable(network));
        return 1;
    }
    SiteRun run{10000, 300, QCoreApplication::applicationDirPath() + QStringLiteral("/sondrel")};
    for (int i = 1; i < argc; ++i) {
        const QByteArray option = argv[i];
        if (option == "--scrape") {
            run.scrape = true;
            continue;
        }
        if (i + 1 == argc)
            break;
        const QByteArray value = argv[++i];
        if (option == "--sites")
            run.sites = std::clamp(value.toInt(), 1, store::kMaxSites);
        else if (option == "--seconds")
            run.seconds = std::max(10, value.toInt());
        else if (option == "--program")
            run.program = QString::fromLocal8Bit(value);
    }
    // Every address of the sites is on loopback, which answers for all of 127/8.
    std::printf("%d sites from %s to %s in a private network namespace; runs of %d s (the figures need 300)\n",
                run.sites, qPrintable(siteAddress(0)), qPrintable(siteAddress(run.sites - 1)), run.seconds);
    if (run.scrape)
        std::printf("GET /metrics scraped once a second beside the run; no fping comparison\n");

    QTemporaryDir folder;
    QDir(folder.path()).mkpath(QStringLiteral("data"));
    QDir(folder.path()).mkpath(QStringLiteral("logs"));
    const double program = runProgram(run, folder);
    if (program < 0)
        return 1;
    if (run.scrape)
        return 0;
    const double fping = runFping(run, folder);
    if (fping > 0)
        std::printf("\nprocessor time per minute, sondrel against fping: %.1f times\n", program / fping);
    return 0;
}
