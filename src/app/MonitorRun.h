#pragma once

#include <QObject>
#include <QTimer>

namespace sondrel::app {

class MainWindow;

// The monitoring run: Start's preparation, then check after check until Stop or a failed connection.
// Every wait is a timer or a completion callback on the event loop, so the window stays responsive and
// Stop acts at once.
class MonitorRun final : public QObject {
    Q_OBJECT
public:
    explicit MonitorRun(MainWindow& window);

    void Command1_Click(); // Start
    void Command4_Click(); // Stop
    // "Interval Seconds" was edited: a wait under way ends when the new interval has passed.
    void intervalChanged();
    // The program is ending: drop the run without any message or callback.
    void abandon();

    bool isRunning() const { return m_phase != Phase::Idle; }
    bool isWaiting() const { return m_phase == Phase::Waiting; }

    // The interval in seconds: the number "Interval Seconds" begins with (leading blanks ignored,
    // fractions count), 0 when it begins with no number.
    static double intervalSeconds(const QString& text);

signals:
    void runFinished();

private:
    enum class Phase { Idle, Waiting, Checking, Ending };

    void nextPass();
    void waitStep();
    void check();
    void afterPageCheck();
    void afterCycle();
    void endWithScanStopped();
    void finishRun();

    MainWindow& m_window;
    Phase m_phase = Phase::Idle;
    QTimer m_timer;
    qint64 m_WaitStart = 0;
};

} // namespace sondrel::app
