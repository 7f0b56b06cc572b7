// How many checks a run makes per second against 127.0.0.1 without a wait, with the main window shown as a
// user has it, while the result list grows to 100,000 lines; and what each kept line costs in memory.
#include "BenchSupport.h"
#include "app/MainWindow.h"
#include "core/Monitor.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>

#include <cstdio>

using namespace sondrel;

int main(int argc, char* argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    const int last = argc > 1 ? QByteArray(argv[1]).toInt() : 100000;
    const int span = 2000; // checks timed at each mark

    bench::BenchProgram program;
    app::MainWindow& window = *program.window;
    window.show();
    bench::control<QLineEdit>(window, "Text5")->setText(QStringLiteral("0"));

    // The run's own count of checks, so that the measure does not depend on when the window paints.
    int checks = 0;
    QObject::connect(&window.monitor(), &core::Monitor::resultLineAdded, [&] { ++checks; });
    QElapsedTimer clock;
    clock.start();
    struct Mark {
        int from;
        qint64 startNs = -1;
        qint64 endNs = -1;
        qint64 rssKb = -1;
    };
    QList<Mark> marks = {{0}, {10000}, {last}};
    QObject::connect(&window.monitor(), &core::Monitor::resultLineAdded, [&] {
        for (Mark& mark : marks) {
            if (checks == mark.from + 1) {
                mark.startNs = clock.nsecsElapsed();
                mark.rssKb = bench::statusKb("VmRSS");
            }
            if (checks == mark.from + span + 1)
                mark.endNs = clock.nsecsElapsed();
        }
    });

    bench::control<QPushButton>(window, "Command1")->click();
    bench::waitFor([&] { return checks > last + span; }, 900000);
    bench::control<QPushButton>(window, "Command4")->click();
    bench::waitFor([&] { return !window.monitor().isRunning(); }, 5000);

    for (const Mark& mark : marks) {
        const double seconds = double(mark.endNs - mark.startNs) / 1e9;
        std::printf("at %6d lines in the list: %.0f checks per second (goal >= 2000)\n", mark.from,
                    seconds > 0 ? span / seconds : 0.0);
    }
    const Mark& tenThousand = marks[1];
    const Mark& end = marks[2];
    std::printf("resident memory %lld kB at %d lines -> %lld kB at %d lines: %.0f bytes per kept line "
                "(goal < 200)\n",
                static_cast<long long>(tenThousand.rssKb), tenThousand.from, static_cast<long long>(end.rssKb),
                end.from, double(end.rssKb - tenThousand.rssKb) * 1024.0 / double(end.from - tenThousand.from));
    std::printf("lines shown: %lld; last: %s\n", static_cast<long long>(bench::resultCount(window)),
                qPrintable(bench::resultLines(window).value(bench::resultCount(window) - 1)));

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
