// The cost of a waiting run, and how quickly Stop ends it.
#include "BenchSupport.h"
#include "app/MainWindow.h"
#include "app/MonitorRun.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <cstdio>

using namespace sondrel;

int main(int argc, char* argv[]) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    const int waitSeconds = argc > 1 ? QByteArray(argv[1]).toInt() : 60;

    QTemporaryDir dir;
    QDir(dir.path()).mkpath(QStringLiteral("data"));
    QDir(dir.path()).mkpath(QStringLiteral("logs"));
    platform::SystemServices system;
    bench::RecordingMessageBoxes messages;
    app::MainWindow window(bench::benchServices(system, messages), dir.path());
    window.Text1->setText(QStringLiteral("127.0.0.1"));
    window.Check2->setChecked(false);
    window.Text5->setText(QString::number(waitSeconds));

    // CPU used while the run waits between two checks.
    window.Command1->click();
    QTest::qWaitFor([&] { return window.run().isWaiting(); }, 5000);
    const double cpuBefore = bench::cpuSeconds();
    QElapsedTimer wall;
    wall.start();
    QTest::qWaitFor([&] { return !window.run().isWaiting(); }, (waitSeconds + 10) * 1000);
    const double cpuMs = (bench::cpuSeconds() - cpuBefore) * 1000.0;
    const double wallS = wall.elapsed() / 1000.0;
    std::printf("wait of %d s: %.1f s of wall time, %.2f ms CPU, %.2f ms CPU per minute of waiting (goal < 10)\n",
                waitSeconds, wallS, cpuMs, cpuMs * 60.0 / wallS);
    window.Command4->click();
    QTest::qWaitFor([&] { return !window.run().isRunning(); }, 5000);

    // From pressing Stop during a wait to "Scan Stopped".
    window.Text5->setText(QStringLiteral("300"));
    QList<double> delays;
    QElapsedTimer stopTimer;
    messages.onShow = [&](const QString& text) {
        if (text == QStringLiteral("Scan Stopped"))
            delays.append(stopTimer.nsecsElapsed() / 1e6);
    };
    for (int i = 0; i < 20; ++i) {
        window.Command1->click();
        QTest::qWaitFor([&] { return window.run().isWaiting(); }, 5000);
        QTest::qWait(20);
        stopTimer.start();
        window.Command4->click();
        QTest::qWaitFor([&] { return !window.run().isRunning(); }, 5000);
    }
    std::sort(delays.begin(), delays.end());
    if (!delays.isEmpty())
        std::printf("Stop to \"Scan Stopped\" over %lld runs: median %.3f ms, worst %.3f ms (goal < 20)\n",
                    static_cast<long long>(delays.size()), delays[delays.size() / 2], delays.last());
    return 0;
}
