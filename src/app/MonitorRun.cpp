#include "app/MonitorRun.h"

#include "app/CheckCycle.h"
#include "app/ConnectionProcedures.h"
#include "app/MainWindow.h"
#include "platform/NumberText.h"
#include "probe/PageCheck.h"
#include "store/FixedText.h"
#include "store/LogFiles.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

#include <cmath>

namespace sondrel::app {

MonitorRun::MonitorRun(MainWindow& window)
    : m_window(window)
{
    m_timer.setSingleShot(true);
    m_timer.setTimerType(Qt::PreciseTimer);
    connect(&m_timer, &QTimer::timeout, this, [this] {
        if (m_phase == Phase::Waiting)
            waitStep();
        else if (m_phase == Phase::Checking)
            nextPass();
    });
}

double MonitorRun::intervalSeconds(const QString& text)
{
    return platform::leadingNumber(text);
}

void MonitorRun::Command1_Click()
{
    if (m_phase != Phase::Idle)
        return;
    MainWindow& w = m_window;
    RunState& state = w.state();
    platform::MessageBoxes& messages = w.services().messages;

    w.logFiles().createnewlogfile();
    w.logFiles().recreateRecordFile();

    const QString& title = platform::applicationTitle();
    if (store::trimSpaces(w.Text1->text()).isEmpty()) {
        messages.show(QStringLiteral("You have not entered a web url to check!"), title);
        return;
    }
    if (store::trimSpaces(w.Text3->text()).isEmpty()) {
        messages.show(QStringLiteral("You have not entered a packet string to send!"), title);
        return;
    }
    if (store::trimSpaces(w.Text7->text()).isEmpty() && w.Option5->isChecked()) {
        messages.show(QStringLiteral("You must enter a Main Site String when you select Check Main Site Page!"), title);
        return;
    }

    state.PingOk = state.PageOk = state.LastPingOk = state.LastPageOk = true;
    state.InteractiveEmail = false;
    state.ReplyCount = 0;
    state.StopScan = false;
    state.TripTimeTotal = 0;
    state.CheckCounter = 1;

    for (QPushButton* b : {w.Command1, w.Command6, w.Command2, w.Command5, w.Command4})
        b->setEnabled(false);

    m_phase = Phase::Checking;
    nextPass();
}

void MonitorRun::Command4_Click()
{
    MainWindow& w = m_window;
    w.closeAllFiles();
    w.Command6->setEnabled(true);
    w.state().StopScan = true;
    w.Command2->setEnabled(true);
    // Start comes back when the run has really finished, so a new run never starts inside the old one.
    if (m_phase == Phase::Idle)
        w.Command1->setEnabled(true);
    w.Command5->setEnabled(true);
    if (m_phase == Phase::Waiting) {
        m_timer.stop();
        m_timer.start(0);
    }
}

void MonitorRun::intervalChanged()
{
    if (m_phase == Phase::Waiting)
        waitStep();
}

void MonitorRun::abandon()
{
    m_timer.stop();
    m_window.checkCycle().cancel();
    m_window.pageCheck().cancel();
    m_window.unloadNotificationWindow();
    m_phase = Phase::Idle;
}

// One pass begins: the stop test, then the wait between checks (none before the first check).
void MonitorRun::nextPass()
{
    if (m_window.state().StopScan) {
        endWithScanStopped();
        return;
    }
    if (m_window.state().CheckCounter != 1) {
        m_phase = Phase::Waiting;
        m_WaitStart = m_window.services().clock.monotonicMs();
        waitStep();
        return;
    }
    check();
}

void MonitorRun::waitStep()
{
    if (m_window.state().StopScan) {
        m_timer.stop();
        endWithScanStopped();
        return;
    }
    const double interval = intervalSeconds(m_window.Text5->text());
    const qint64 elapsed = m_window.services().clock.monotonicMs() - m_WaitStart;
    const double remaining = interval * 1000.0 - double(elapsed);
    if (remaining <= 0) {
        m_timer.stop();
        m_phase = Phase::Checking;
        check();
        return;
    }
    // Wake when the interval is over; an edit of the interval or Stop wakes the wait sooner.
    m_timer.start(int(std::min(std::ceil(remaining), 86'400'000.0)));
}

void MonitorRun::check()
{
    MainWindow& w = m_window;
    RunState& state = w.state();
    m_phase = Phase::Checking;

    if (!openinternetconnection(w.services().connection)) {
        w.addResultLine(QStringLiteral("Failed to connect to internet!"));
        w.showImage(w.Image2);
        finishRun();
        return;
    }
    w.showImage(w.Image1);
    w.Command4->setEnabled(true);
    w.Text6->setText(QString::number(state.CheckCounter, 'f', 0));

    if (w.Option5->isChecked()) {
        w.pageCheck().PageText.clear();
        w.pageCheck().gethtml(w.Text1->text(), w.Text7->text(), [this](const QString& token) {
            RunState& s = m_window.state();
            s.PageToken = token;
            s.PageOk = token == probe::kTokenOk;
            afterPageCheck();
        });
        return;
    }
    w.pageCheck().PageText.clear();
    state.PageToken = kBlankToken;
    afterPageCheck();
}

void MonitorRun::afterPageCheck()
{
    m_window.unloadNotificationWindow();
    m_window.checkCycle().process([this] { afterCycle(); });
}

void MonitorRun::afterCycle()
{
    MainWindow& w = m_window;
    w.state().CheckCounter += 1;
    if (w.Check2->isChecked() && !hangupinternetconnection(w.services().connection)) {
        w.services().messages.show(QStringLiteral("Cannot auto disconnect. Please disconnect manually"),
                                   platform::applicationTitle());
        w.showImage(w.Image2);
    }
    if (m_phase != Phase::Checking)
        return; // the program ended while the message was open
    // The next pass starts from the event loop, so even without a wait the window handles its events
    // between checks and Stop acts at once.
    m_timer.start(0);
}

void MonitorRun::endWithScanStopped()
{
    m_phase = Phase::Ending;
    m_window.services().messages.show(QStringLiteral("Scan Stopped"), platform::applicationTitle());
    if (m_phase != Phase::Ending)
        return;
    finishRun();
}

void MonitorRun::finishRun()
{
    MainWindow& w = m_window;
    for (QPushButton* b : {w.Command6, w.Command1, w.Command4, w.Command5, w.Command2})
        b->setEnabled(true);
    w.closeAllFiles();
    m_phase = Phase::Idle;
    emit runFinished();
}

} // namespace sondrel::app
