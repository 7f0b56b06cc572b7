// How many checks a run makes per second against 127.0.0.1 without a wait, with the main window shown on a real
// X display as a user has it, while the result list grows past 300,000 lines; and what each kept line costs in
// memory. The checks are counted by the kernel, not by the program: the benchmark moves into a private network
// namespace of its own before anything starts, and reads that namespace's ICMP counters
// (/proc/net/snmp: OutEchos, InEchoReps) once a second. Run as root; without a display it runs itself under
// `xvfb-run -a`.
//
// bench_checks [LINES] [SECONDS]: runs until the kernel has counted LINES echo replies (default 300,000) and
// SECONDS have passed (default 20). Prints figures; never fails on them.
#include "BenchSupport.h"
#include "app/MainWindow.h"
#include "core/Monitor.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>

#include <unistd.h>

#include <cstdio>
#include <vector>

using namespace sondrel;

namespace {

// The ICMP counters of the current network namespace that one echo of a check moves.
struct EchoCounters {
    qint64 outEchos = -1;
    qint64 inEchoReps = -1;
};

EchoCounters readEchoCounters()
{
    QFile snmp(QStringLiteral("/proc/net/snmp"));
    if (!snmp.open(QIODevice::ReadOnly))
        return {};
    // Two "Icmp:" lines: the names, then the values in the same order.
    QList<QByteArray> names;
    EchoCounters counters;
    for (const QByteArray& line : snmp.readAll().split('\n')) {
        if (!line.startsWith("Icmp: "))
            continue;
        const QList<QByteArray> fields = line.mid(6).split(' ');
        if (names.isEmpty()) {
            names = fields;
            continue;
        }
        for (qsizetype i = 0; i < fields.size() && i < names.size(); ++i) {
            if (names[i] == "OutEchos")
                counters.outEchos = fields[i].toLongLong();
            else if (names[i] == "InEchoReps")
                counters.inEchoReps = fields[i].toLongLong();
        }
        break;
    }
    return counters;
}

struct Sample {
    double seconds;
    qint64 replies;
    qint64 sent;
    qint64 rssKb;
};

// Replies per second between the samples nearest to from and to seconds.
double rateBetween(const std::vector<Sample>& samples, double from, double to)
{
    auto nearest = [&](double at) {
        const Sample* best = &samples.front();
        for (const Sample& s : samples) {
            if (std::abs(s.seconds - at) < std::abs(best->seconds - at))
                best = &s;
        }
        return *best;
    };
    const Sample a = nearest(from);
    const Sample b = nearest(to);
    return b.seconds > a.seconds ? double(b.replies - a.replies) / (b.seconds - a.seconds) : 0.0;
}

} // namespace

int main(int argc, char* argv[])
{
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        std::vector<char*> again = {const_cast<char*>("xvfb-run"), const_cast<char*>("-a")};
        for (int i = 0; i < argc; ++i)
            again.push_back(argv[i]);
        again.push_back(nullptr);
        ::execvp("xvfb-run", again.data());
        std::printf("no display and no xvfb-run: run under an X server\n");
        return 1;
    }
    const QString network = bench::enterPrivateNetwork();
    if (!network.isEmpty()) {
        std::printf("cannot make a private network namespace (%s): run as root\n", qPrintable(network));
        return 1;
    }
    QApplication application(argc, argv);
    const qint64 lines = argc > 1 ? QByteArray(argv[1]).toLongLong() : 300000;
    const double minimumSeconds = argc > 2 ? QByteArray(argv[2]).toDouble() : 20.0;
    const EchoCounters atStart = readEchoCounters();
    if (atStart.inEchoReps < 0) {
        std::printf("cannot read the ICMP counters in /proc/net/snmp\n");
        return 1;
    }

    bench::BenchProgram program;
    app::MainWindow& window = *program.window;
    window.show();
    bench::control<QLineEdit>(window, "Text5")->setText(QStringLiteral("0"));
    std::printf("platform %s; checks counted by the kernel in a private network namespace\n",
                qPrintable(QGuiApplication::platformName()));

    std::vector<Sample> samples;
    QElapsedTimer clock;
    auto sample = [&] {
        const EchoCounters now = readEchoCounters();
        samples.push_back({double(clock.nsecsElapsed()) / 1e9, now.inEchoReps - atStart.inEchoReps,
                           now.outEchos - atStart.outEchos, bench::statusKb("VmRSS")});
    };
    QTimer sampler;
    sampler.setTimerType(Qt::PreciseTimer);
    QObject::connect(&sampler, &QTimer::timeout, [&] {
        sample();
        if (samples.size() % 10 == 0)
            std::printf("  %.0f s: %lld replies, %d lines shown\n", samples.back().seconds,
                        static_cast<long long>(samples.back().replies), bench::resultCount(window));
    });
    clock.start();
    sample();
    sampler.start(1000);
    bench::control<QPushButton>(window, "Command1")->click();
    bench::waitFor(
        [&] {
            return samples.size() > 1 && samples.back().replies >= lines && samples.back().seconds >= minimumSeconds;
        },
        1800 * 1000);
    sampler.stop();
    bench::control<QPushButton>(window, "Command4")->click();
    bench::waitFor([&] { return !window.monitor().isRunning(); }, 5000);

    std::printf("%8s %12s %12s %12s %12s\n", "seconds", "echo replies", "echoes sent", "replies/s", "memory kB");
    for (std::size_t i = 1; i < samples.size(); ++i) {
        const Sample& s = samples[i];
        const Sample& p = samples[i - 1];
        if (i % 5 == 0 || i + 1 == samples.size())
            std::printf("%8.1f %12lld %12lld %12.0f %12lld\n", s.seconds, static_cast<long long>(s.replies),
                        static_cast<long long>(s.sent), double(s.replies - p.replies) / (s.seconds - p.seconds),
                        static_cast<long long>(s.rssKb));
    }
    const double end = samples.back().seconds;
    const double first = rateBetween(samples, 0, 5);
    const double at20 = rateBetween(samples, 15, 20);
    const double last = rateBetween(samples, end - 5, end);
    std::printf("replies per second: first 5 s %.0f, 15-20 s %.0f (keep ratio %.2f, goal >= 0.9)\n", first, at20,
                at20 / first);
    std::printf("replies per second: last 5 s of the run, at %lld lines, %.0f (keep ratio %.2f, goal >= 0.9)\n",
                static_cast<long long>(samples.back().replies), last, last / first);
    const Sample* early = &samples.front();
    for (const Sample& s : samples) {
        if (s.seconds <= 5.5)
            early = &s;
    }
    std::printf("resident memory %lld kB at %lld lines -> %lld kB at %lld lines: %.0f bytes per kept line "
                "(goal < 200)\n",
                static_cast<long long>(early->rssKb), static_cast<long long>(early->replies),
                static_cast<long long>(samples.back().rssKb), static_cast<long long>(samples.back().replies),
                double(samples.back().rssKb - early->rssKb) * 1024.0 / double(samples.back().replies - early->replies));
    const int shown = bench::resultCount(window);
    const EchoCounters atEnd = readEchoCounters();
    std::printf("lines shown: %d; echo replies counted by the kernel in the whole run: %lld; last line: %s\n", shown,
                static_cast<long long>(atEnd.inEchoReps - atStart.inEchoReps),
                qPrintable(bench::control<QListView>(window, "List1")->model()->index(shown - 1, 0).data().toString()));

    // One cycle's trip time next to ping's own.
    bench::control<QLineEdit>(window, "Text5")->setText(QStringLiteral("300"));
    bench::control<QPushButton>(window, "Command6")->click();
    bench::control<QPushButton>(window, "Command1")->click();
    bench::waitFor([&] { return window.monitor().isWaiting(); }, 5000);
    bench::control<QPushButton>(window, "Command4")->click();
    bench::waitFor([&] { return !window.monitor().isRunning(); }, 5000);
    QProcess ping;
    ping.start(QStringLiteral("ping"), {QStringLiteral("-c"), QStringLiteral("1"), QStringLiteral("127.0.0.1")});
    ping.waitForFinished(5000);
    const QString pingOut = QString::fromLocal8Bit(ping.readAllStandardOutput());
    const QRegularExpressionMatch m = QRegularExpression(QStringLiteral("time=([0-9.]+) ms")).match(pingOut);
    std::printf("one check: %s; ping -c 1: %s ms\n", qPrintable(bench::resultLines(window).value(0)),
                m.hasMatch() ? qPrintable(m.captured(1)) : "(ping gave no time)");
    return 0;
}
