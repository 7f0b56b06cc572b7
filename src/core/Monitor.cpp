#include "core/Monitor.h"

#include "core/AlertMailer.h"
#include "core/CheckCycle.h"
#include "core/ConnectionProcedures.h"
#include "core/NotificationQueue.h"
#include "platform/CodePage.h"
#include "platform/IcmpEcho.h"
#include "probe/PageCheck.h"
#include "store/FixedText.h"
#include "store/LogFiles.h"

#include <cmath>

namespace sondrel::core {

Monitor::Monitor(platform::Services services, QString programFolder, QObject* parent)
    : QObject(parent)
    , m_services(services)
    , m_programFolder(std::move(programFolder))
    , m_logFiles(std::make_unique<store::LogFiles>(m_programFolder, m_messages))
    , m_pageCheck(std::make_unique<probe::PageCheck>(services.http))
    , m_notifications(std::make_unique<NotificationQueue>(services, m_programFolder))
    , m_checkCycle(std::make_unique<CheckCycle>(*this))
    , m_alerts(std::make_unique<AlertMailer>(*this, services.clock))
{
    connect(m_alerts.get(), &AlertMailer::snoozeChanged, this, &Monitor::snoozeChanged);
    m_timer.setSingleShot(true);
    m_timer.setTimerType(Qt::PreciseTimer);
    connect(&m_timer, &QTimer::timeout, this, [this] {
        if (m_phase == Phase::Waiting)
            waitStep();
        else if (m_phase == Phase::Checking)
            nextPass();
    });
}

Monitor::~Monitor()
{
    // Pending operations go first, so that no callback reaches a half-destroyed monitor.
    m_timer.stop();
    m_checkCycle.reset();
    m_pageCheck.reset();
    m_alerts.reset();
    m_notifications.reset();
    m_logFiles->closeAll();
}

void Monitor::raise(const QString& text, platform::MessageIcon icon)
{
    emit messageRaised(text, platform::applicationTitle(), icon);
}

bool Monitor::start(const MonitorSettings& settings)
{
    if (m_phase != Phase::Idle)
        return false;
    m_settings = settings;
    m_logFiles->createnewlogfile();
    m_logFiles->recreateRecordFile();

    if (store::trimSpaces(settings.webAddress).isEmpty()) {
        raise(QStringLiteral("You have not entered a web url to check!"));
        return false;
    }
    if (store::trimSpaces(settings.packetString).isEmpty()) {
        raise(QStringLiteral("You have not entered a packet string to send!"));
        return false;
    }
    // The reply carries back what was sent, and only as much as an echo's data area holds is compared: a
    // longer text would fail every check of a healthy site.
    if (const qsizetype length = platform::toCodePage(settings.packetString).size();
        length > platform::kEchoDataAreaSize) {
        raise(QStringLiteral("The packet string is %1 characters long; at most %2 can be sent in one echo and "
                             "checked when it comes back. Shorten it and press Start again.")
                  .arg(length)
                  .arg(platform::kEchoDataAreaSize));
        return false;
    }
    if (store::trimSpaces(settings.mainSiteString).isEmpty() && settings.checkMainPage) {
        raise(QStringLiteral("You must enter a Main Site String when you select Check Main Site Page!"));
        return false;
    }

    m_state = RunState{};
    m_alerts->runStarted();
    m_slowness = {};
    m_certificateWatch = {};
    m_phase = Phase::Checking;
    emit runStarted();
    nextPass();
    return true;
}

void Monitor::stop()
{
    // A check under way still logs its line: the run closes the files when it ends after that check.
    if (m_phase != Phase::Checking)
        closeAllFiles();
    m_state.StopScan = true;
    if (m_phase == Phase::Waiting) {
        m_timer.stop();
        m_timer.start(0);
    }
}

void Monitor::setSettings(const MonitorSettings& settings)
{
    m_settings = settings;
    if (m_phase == Phase::Waiting)
        waitStep();
}

void Monitor::abandon()
{
    m_timer.stop();
    m_checkCycle->cancel();
    m_pageCheck->cancel();
    m_phase = Phase::Idle;
}

void Monitor::snoozeUntil(const QDateTime& until)
{
    m_alerts->snoozeUntil(until);
}

void Monitor::resume()
{
    m_alerts->resume();
}

QDateTime Monitor::snoozedUntil() const
{
    return m_alerts->snoozedUntil();
}

bool Monitor::isLogOpen() const
{
    return m_logFiles->isLogOpen();
}

void Monitor::closeAllFiles()
{
    m_logFiles->closeAll();
}

// One pass begins: the stop test, then the wait between checks (none before the first check).
void Monitor::nextPass()
{
    if (m_state.StopScan) {
        endWithScanStopped();
        return;
    }
    if (m_state.CheckCounter != 1) {
        m_phase = Phase::Waiting;
        m_waitStart = m_services.clock.monotonicMs();
        waitStep();
        return;
    }
    check();
}

void Monitor::waitStep()
{
    if (m_state.StopScan) {
        m_timer.stop();
        endWithScanStopped();
        return;
    }
    const qint64 elapsed = m_services.clock.monotonicMs() - m_waitStart;
    const double remaining = m_settings.intervalSeconds * 1000.0 - double(elapsed);
    if (remaining <= 0) {
        m_timer.stop();
        m_phase = Phase::Checking;
        check();
        return;
    }
    // Wake when the interval is over; a change of the interval or Stop wakes the wait sooner.
    m_timer.start(int(std::min(std::ceil(remaining), 86'400'000.0)));
}

void Monitor::check()
{
    m_phase = Phase::Checking;
    if (!openinternetconnection(m_services.connection)) {
        emit resultLineAdded(QStringLiteral("Failed to connect to internet!"));
        emit statusChanged(SiteStatus::NoConnection);
        finishRun(RunEnd::NoConnection);
        return;
    }
    emit statusChanged(SiteStatus::Working);
    m_state.CheckNumberText = QString::number(m_state.CheckCounter, 'f', 0);
    emit checkStarted(m_state.CheckNumberText);

    m_pageFetched = m_settings.checkMainPage;
    m_pageFetchMs.reset();
    if (m_settings.checkMainPage) {
        const qint64 asked = m_services.clock.monotonicMs();
        m_pageCheck->gethtml(m_settings.webAddress, m_settings.mainSiteString, [this, asked](const QString& token) {
            m_state.PageToken = token;
            m_state.PageOk = token == probe::kTokenOk;
            if (m_pageCheck->pageDone())
                m_pageFetchMs = m_services.clock.monotonicMs() - asked;
            afterPageCheck();
        });
        return;
    }
    m_state.PageToken = kBlankToken;
    afterPageCheck();
}

void Monitor::afterPageCheck()
{
    m_checkCycle->process([this] { afterCycle(); });
}

void Monitor::afterCycle()
{
    m_state.CheckCounter += 1;
    if (m_settings.autoDisconnect && !hangupinternetconnection(m_services.connection)) {
        raise(QStringLiteral("Cannot auto disconnect. Please disconnect manually"));
        emit statusChanged(SiteStatus::NoConnection);
    }
    if (m_phase != Phase::Checking)
        return; // the program ended while the message was open
    // The next pass starts from the event loop, so even without a wait the program handles its events
    // between checks and Stop acts at once.
    m_timer.start(0);
}

void Monitor::endWithScanStopped()
{
    m_phase = Phase::Ending;
    raise(QStringLiteral("Scan Stopped"));
    if (m_phase != Phase::Ending)
        return;
    finishRun(RunEnd::Stopped);
}

void Monitor::finishRun(RunEnd end)
{
    closeAllFiles();
    m_phase = Phase::Idle;
    emit runFinished(end);
}

} // namespace sondrel::core
