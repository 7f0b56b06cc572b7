// How many checks a run makes per second against 127.0.0.1 without a wait, and what a long run costs in
// memory, result list included.
#include "BenchSupport.h"
#include "app/MainWindow.h"
#include "app/ResultListModel.h"
#include "core/Monitor.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <cstdio>

using namespace sondrel;

int main(int argc, char* argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    const int checks = argc > 1 ? QByteArray(argv[1]).toInt() : 20000;

    bench::BenchProgram program;
    app::MainWindow& window = *program.window;
    bench::control<QLineEdit>(window, "Text5")->setText(QStringLiteral("0"));

    // Warm up, so one-time allocations do not count as growth.
    bench::control<QPushButton>(window, "Command1")->click();
    bench::waitFor([&] { return bench::resultCount(window) >= 200; }, 60000);
    bench::control<QPushButton>(window, "Command4")->click();
    bench::waitFor([&] { return !window.monitor().isRunning(); }, 5000);
    bench::control<QPushButton>(window, "Command6")->click();

    const qint64 rssBefore = bench::statusKb("VmRSS");
    QElapsedTimer timer;
    timer.start();
    bench::control<QPushButton>(window, "Command1")->click();
    bench::waitFor([&] { return bench::resultCount(window) >= checks; }, 600000);
    const double seconds = timer.nsecsElapsed() / 1e9;
    const int done = bench::resultCount(window);
    bench::control<QPushButton>(window, "Command4")->click();
    bench::waitFor([&] { return !window.monitor().isRunning(); }, 5000);
    const qint64 rssAfter = bench::statusKb("VmRSS");

    const QString last = bench::resultLines(window).last();
    std::printf("%d checks in %.2f s: %.0f checks per second (goal >= 2000)\n", done, seconds, done / seconds);
    std::printf("resident memory %lld kB -> %lld kB: %.0f bytes per check (goal < 400)\n",
                static_cast<long long>(rssBefore), static_cast<long long>(rssAfter),
                double(rssAfter - rssBefore) * 1024.0 / done);
    std::printf("last line: %s\n", qPrintable(last));

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
