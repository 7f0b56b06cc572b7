// What the latency chart costs a fast run: checks per second against 127.0.0.1 without a wait, with the main window
// shown, in phases with the chart window open and closed in turn within one run, so that both see the same machine
// load and the same length of result list. Also how often the chart was actually painted while open.
//
// With --screenshot FILE SECONDS [WINDOW_FILE] it instead runs checks every 20 ms for that long with the chart open,
// and saves the chart window as FILE (and the main window as WINDOW_FILE). docs/latency-chart.png was made so in a
// private network namespace (a veth pair gives it a route, so that the run finds a connection) whose loopback was
// slowed by a token bucket and loaded in bursts, with a few echo requests dropped:
//   unshare -n sh -c 'ip link set lo up; ip link add v0 type veth peer name v1; ip addr add 10.9.9.1/24 dev v0;
//     ip link set v0 up; ip link set v1 up; ip route add default via 10.9.9.2 dev v0;
//     tc qdisc add dev lo root tbf rate 2mbit burst 4kb latency 40ms;
//     nft add table inet t; nft add chain inet t c "{ type filter hook output priority 0; }";
//     nft add rule inet t c icmp type echo-request ip length lt 100 numgen random mod 150 == 0 drop;
//     (sleep 8; ping -q -i 0.006 -s 1200 -w 7 127.0.0.1; sleep 6; ping -q -i 0.003 -s 1200 -w 5 127.0.0.1) &
//     bench_chart --screenshot docs/latency-chart.png 36'
#include "BenchSupport.h"
#include "app/MainWindow.h"
#include "core/Monitor.h"

#include <QAction>
#include <QApplication>
#include <QChartView>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPushButton>

#include <algorithm>
#include <cstdio>
#include <vector>

using namespace sondrel;

namespace {

QWidget* chartWindow()
{
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (widget->objectName() == QLatin1String("frmChart") && widget->isVisible())
            return widget;
    }
    return nullptr;
}

// Counts the paints of a widget.
class PaintCounter final : public QObject {
public:
    int paints = 0;

protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Paint)
            ++paints;
        return false;
    }
};

int screenshot(const QString& file, int seconds, const QString& windowFile)
{
    bench::BenchProgram program;
    app::MainWindow& window = *program.window;
    window.show();
    bench::control<QLineEdit>(window, "Text5")->setText(QStringLiteral("0.02"));
    bench::control<QPushButton>(window, "Command1")->click();
    bench::control<QAction>(window, "mnuChart")->trigger();
    bench::runFor(seconds * 1000);
    const bool saved = chartWindow()->grab().save(file) && (windowFile.isEmpty() || window.grab().save(windowFile));
    bench::control<QPushButton>(window, "Command4")->click();
    bench::waitFor([&] { return !window.monitor().isRunning(); }, 5000);
    std::printf("%s %s after %d checks; last line: %s; messages: %s\n", saved ? "saved" : "could not save",
                qPrintable(file), bench::resultCount(window),
                qPrintable(bench::resultLines(window).value(bench::resultCount(window) - 1)),
                qPrintable(program.messages.shown.join(QStringLiteral(" | "))));
    return saved ? 0 : 1;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0.0 : values[values.size() / 2];
}

} // namespace

int main(int argc, char* argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    if (argc > 3 && QByteArray(argv[1]) == "--screenshot")
        return screenshot(QString::fromLocal8Bit(argv[2]), QByteArray(argv[3]).toInt(),
                          argc > 4 ? QString::fromLocal8Bit(argv[4]) : QString());
    const int phaseMs = argc > 1 ? QByteArray(argv[1]).toInt() : 1500;
    const int rounds = argc > 2 ? QByteArray(argv[2]).toInt() : 10;

    bench::BenchProgram program;
    app::MainWindow& window = *program.window;
    window.show();
    bench::control<QLineEdit>(window, "Text5")->setText(QStringLiteral("0"));
    qint64 checks = 0;
    QObject::connect(&window.monitor(), &core::Monitor::resultLineAdded, [&] { ++checks; });

    bench::control<QPushButton>(window, "Command1")->click();
    // Warm up, and fill the chart's history to its bucket limit before the first timed phase.
    bench::runFor(2000);

    struct Phase {
        double rate = 0;  // checks per second
        double cpuUs = 0; // processor time per check
    };
    std::vector<Phase> open;
    std::vector<Phase> closed;
    std::vector<double> pairRatios;
    PaintCounter counter;
    for (int round = 0; round < rounds; ++round) {
        // Each round has both phases, in alternating order, so that a change of load hits both alike.
        for (const bool withChart : {round % 2 == 0, round % 2 != 0}) {
            if (withChart) {
                bench::control<QAction>(window, "mnuChart")->trigger();
                bench::control<QChartView>(*chartWindow(), "chartView")->viewport()->installEventFilter(&counter);
                bench::runFor(100); // the window's first paint is not part of the run's cost
            }
            const int paintsBefore = counter.paints;
            const qint64 before = checks;
            const double cpuBefore = bench::cpuSeconds();
            QElapsedTimer clock;
            clock.start();
            bench::runFor(phaseMs);
            const double seconds = double(clock.nsecsElapsed()) / 1e9;
            const qint64 done = std::max<qint64>(checks - before, 1);
            const Phase phase{double(done) / seconds, (bench::cpuSeconds() - cpuBefore) * 1e6 / double(done)};
            (withChart ? open : closed).push_back(phase);
            std::printf("round %2d, chart %-6s: %6.0f checks per second, %5.1f us processor time per check", round + 1,
                        withChart ? "open" : "closed", phase.rate, phase.cpuUs);
            if (withChart) {
                std::printf(", %.0f chart paints per second", double(counter.paints - paintsBefore) / seconds);
                chartWindow()->close();
                bench::waitFor([] { return chartWindow() == nullptr; }, 2000);
            }
            std::printf("\n");
            std::fflush(stdout);
        }
        pairRatios.push_back(open.back().rate / closed.back().rate);
    }
    bench::control<QPushButton>(window, "Command4")->click();
    bench::waitFor([&] { return !window.monitor().isRunning(); }, 5000);

    auto medianOf = [](const std::vector<Phase>& phases, double Phase::*field) {
        std::vector<double> values;
        for (const Phase& phase : phases)
            values.push_back(phase.*field);
        return median(values);
    };
    const double openRate = medianOf(open, &Phase::rate);
    const double closedRate = medianOf(closed, &Phase::rate);
    std::printf("median checks per second: chart open %.0f (goal >= 2000), chart closed %.0f; ratio of medians %.2f, "
                "median ratio within a round %.2f (goal >= 0.80)\n",
                openRate, closedRate, openRate / closedRate, median(pairRatios));
    const double openCpu = medianOf(open, &Phase::cpuUs);
    const double closedCpu = medianOf(closed, &Phase::cpuUs);
    std::printf("median processor time per check: chart open %.1f us, chart closed %.1f us; ratio closed/open %.2f\n",
                openCpu, closedCpu, closedCpu / openCpu);
    std::printf("checks in the run: %lld; lines shown: %d\n", static_cast<long long>(checks),
                bench::resultCount(window));
    return 0;
}
