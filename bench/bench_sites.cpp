// The real program watching thousands of saved sites at once with no window: `sondrel --no-window --all-sites`
// (build it in Release) over SITES sites 127.0.x.y, one check a minute each, inside a private network namespace of
// its own where every such address answers on loopback. From outside it measures how late each check came against
// its interval (from the arrival of each site's result lines on the program's standard output), the program's
// processor time per minute (/proc/PID/stat), its peak resident memory (VmHWM) and its open descriptors (sampled
// every 5 s), and whether every printed line reached its site's log. Then fping loops over the same addresses, a
// minute apart, in the same namespace for as long, and its processor time is set beside the program's. Run as root
// with fping installed (bash scripts/ensure-packages.sh fping).
//
// bench_sites [--sites N] [--seconds S] [--program PATH]: N sites (default 10,000, at most 32767), S seconds of
// each run (default 300; the figures mean most from 300 on, a shorter run is a smoke test), PATH the sondrel binary
// (default: the one beside this benchmark). Prints figures; never fails on them.
#include "BenchSupport.h"
#include "store/FixedText.h"
#include "store/SiteSettings.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <numeric>
#include <vector>

#include <csignal>
#include <unistd.h>

using namespace sondrel;

namespace {

constexpr int kIntervalSeconds = 60;
constexpr int kSampleMs = 5000;

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

struct SiteRun {
    int sites = 0;
    int seconds = 0;
    QString program;
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
    process.start(copy, {QStringLiteral("--no-window"), QStringLiteral("--all-sites")});
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
    QObject::connect(&process, &QProcess::readyReadStandardOutput, readLines);
    ProcessSamples samples;
    Sampler sampler(pid, clock, samples);
    bench::waitFor([&] { return process.state() == QProcess::NotRunning; }, run.seconds * 1000);
    sampler.sample();
    const double endSeconds = double(clock.nsecsElapsed()) / 1e9;
    if (process.state() == QProcess::NotRunning) {
        std::printf("the program ended early with status %d: %s\n", process.exitCode(),
                    process.readAllStandardError().right(2000).constData());
        return -1;
    }
    QElapsedTimer stopping;
    stopping.start();
    process.terminate();
    const bool ended = bench::waitFor([&] { return process.state() == QProcess::NotRunning; }, 120000);
    const double stopSeconds = double(stopping.elapsed()) / 1000.0;
    readLines();
    const QList<QByteArray> errors = process.readAllStandardError().split('\n');
    const qsizetype stoppedLines = std::count_if(
        errors.begin(), errors.end(), [](const QByteArray& line) { return line.endsWith("] Scan Stopped"); });

    std::printf("\nsondrel --no-window --all-sites, %d sites, a check every %d s each, %.0f s\n", run.sites,
                kIntervalSeconds, endSeconds);
    std::printf("  first result line after %.2f s; sites that printed none: %lld\n", double(firstLineNs) / 1e9,
                static_cast<long long>(std::count(printed.begin() + 1, printed.end(), 0)));
    const qint64 lines = std::accumulate(printed.begin() + 1, printed.end(), qint64(0)); // the stop's lines too
    std::printf("  result lines %lld (%.1f a second), other lines on standard output %lld\n",
                static_cast<long long>(lines), double(lines) / endSeconds, static_cast<long long>(otherLines));
    if (!lateness.empty()) {
        const double count = double(lateness.size());
        const double median = percentile(lateness, 0.5);
        const double p99 = percentile(lateness, 0.99);
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
    for (int i = 1; i + 1 < argc; i += 2) {
        const QByteArray option = argv[i];
        if (option == "--sites")
            run.sites = std::clamp(QByteArray(argv[i + 1]).toInt(), 1, store::kMaxSites);
        else if (option == "--seconds")
            run.seconds = std::max(10, QByteArray(argv[i + 1]).toInt());
        else if (option == "--program")
            run.program = QString::fromLocal8Bit(argv[i + 1]);
    }
    // Every address of the sites is on loopback, which answers for all of 127/8.
    std::printf("%d sites from %s to %s in a private network namespace; runs of %d s (the figures need 300)\n",
                run.sites, qPrintable(siteAddress(0)), qPrintable(siteAddress(run.sites - 1)), run.seconds);

    QTemporaryDir folder;
    QDir(folder.path()).mkpath(QStringLiteral("data"));
    QDir(folder.path()).mkpath(QStringLiteral("logs"));
    const double program = runProgram(run, folder);
    if (program < 0)
        return 1;
    const double fping = runFping(run, folder);
    if (fping > 0)
        std::printf("\nprocessor time per minute, sondrel against fping: %.1f times\n", program / fping);
    return 0;
}
