// The cost of a waiting run, and how quickly Stop ends it.
#include "BenchSupport.h"
#include "app/MainWindow.h"
#include "core/Monitor.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>

using namespace sondrel;

int main(int argc, char* argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    const int waitSeconds = argc > 1 ? QByteArray(argv[1]).toInt() : 60;

    bench::BenchProgram program;
    app::MainWindow& window = *program.window;
    bench::RecordingMessageBoxes& messages = program.messages;
    bench::control<QLineEdit>(window, "Text5")->setText(QString::number(waitSeconds));

    // CPU used while the run waits between two checks.
    bench::control<QPushButton>(window, "Command1")->click();
    bench::waitFor([&] { return window.monitor().isWaiting(); }, 5000);
    // Measure inside the wait only, leaving a margin before the next check.
    const double cpuBefore = bench::cpuSeconds();
    QElapsedTimer wall;
    wall.start();
    bench::runFor(waitSeconds * 1000 - 500);
    const double cpuMs = (bench::cpuSeconds() - cpuBefore) * 1000.0;
    const double wallS = wall.elapsed() / 1000.0;
    const bool stillWaiting = window.monitor().isWaiting();
    std::printf("%.1f s inside a wait of %d s: %.3f ms CPU, %.3f ms CPU per minute of waiting (goal < 10)%s\n", wallS,
                waitSeconds, cpuMs, cpuMs * 60.0 / wallS, stillWaiting ? "" : " [the wait ended early!]");
    bench::control<QPushButton>(window, "Command4")->click();
    bench::waitFor([&] { return !window.monitor().isRunning(); }, 5000);

    // From pressing Stop during a wait to "Scan Stopped".
    bench::control<QLineEdit>(window, "Text5")->setText(QStringLiteral("300"));
    QList<double> delays;
    QElapsedTimer stopTimer;
    messages.onShow = [&](const QString& text) {
        if (text == QStringLiteral("Scan Stopped"))
            delays.append(stopTimer.nsecsElapsed() / 1e6);
    };
    for (int i = 0; i < 20; ++i) {
        bench::control<QPushButton>(window, "Command1")->click();
        bench::waitFor([&] { return window.monitor().isWaiting(); }, 5000);
        bench::runFor(20);
        stopTimer.start();
        bench::control<QPushButton>(window, "Command4")->click();
        bench::waitFor([&] { return !window.monitor().isRunning(); }, 5000);
    }
    std::sort(delays.begin(), delays.end());
    if (!delays.isEmpty())
        std::printf("Stop to \"Scan Stopped\" over %lld runs: median %.3f ms, worst %.3f ms (goal < 20)\n",
                    static_cast<long long>(delays.size()), delays[delays.size() / 2], delays.last());
    return 0;
}
