#include "core/Monitor.h"

#include "core/AlertMailer.h"
#include "core/CheckCycle.h"
#include "core/ConnectionProcedures.h"
#include "core/NotificationSink.h"
#include "core/WakeQueue.h"
#include "mail/NotificationDecision.h"
#include "platform/CodePage.h"
#include "platform/IcmpEcho.h"
#include "probe/EchoProbe.h"
#include "probe/PageCheck.h"
#include "store/FixedText.h"
#include "store/LogFiles.h"

#include <cmath>

namespace sondrel::core {

namespace {

// Hands what the log files have to tell the user to a receiver, without waiting for an answer.
class ForwardedMessages final : public platform::MessageBoxes {
public:
    explicit ForwardedMessages(std::function<void(const QString&, const QString&, platform::MessageIcon)> forward)
        : m_forward(std::move(forward))
    {
    }
    void show(const QString& text, const QString& title, platform::MessageIcon icon) override
    {
        m_forward(text, title, icon);
    }

private:
    std::function<void(const QString&, const QString&, platform::MessageIcon)> m_forward;
};

} // namespace

Monitor::Monitor(platform::Services services, QString programFolder, NotificationGroups& notifications,
                 RunOptions options, QObject* parent)
    : QObject(parent)
    , m_services(services)
    , m_programFolder(std::move(programFolder))
    , m_options(std::move(options))
    , m_logMessages(std::make_unique<ForwardedMessages>(
          [this](const QString& text, const QString& title, platform::MessageIcon icon) {
              emit messageRaised(text, title, icon);
          }))
    , m_logFiles(std::make_unique<store::LogFiles>(
          m_options.logs.counter.isEmpty() ? store::LogPaths::ofProgram(m_programFolder) : m_options.logs,
          *m_logMessages))
    , m_pageCheck(std::make_unique<probe::PageCheck>(services.http))
    , m_checkCycle(std::make_unique<CheckCycle>(services.echo, services.resolver, *m_logFiles,
                                                [clock = &services.clock] { return clock->now(); }))
    , m_notifications(std::make_unique<FolderNotifications>(m_programFolder, m_logFiles->paths().recordFile,
                                                            notifications, [this] { return m_settings.webAddress; }))
    , m_alerts(std::make_unique<AlertMailer>(services.clock, *m_notifications))
{
    connect(m_alerts.get(), &AlertMailer::snoozeChanged, this, &Monitor::snoozeChanged);
    // The warnings are e-mailed before any observer hears of them.
    connect(this, &Monitor::slownessChanged, m_alerts.get(), &AlertMailer::slownessChanged);
    connect(this, &Monitor::certificateExpiring, m_alerts.get(), &AlertMailer::certificateExpiring);
    m_timer.setSingleShot(true);
    m_timer.setTimerType(Qt::PreciseTimer);
    connect(&m_timer, &QTimer::timeout, this, &Monitor::woken);
}

Monitor::~Monitor()
{
    // Pending operations go first, so that no callback reaches a half-destroyed monitor.
    cancelWake();
    m_checkCycle.reset();
    m_pageCheck.reset();
    m_alerts.reset();
    m_logFiles->closeAll();
}

// Raises a message; with afterAnswer the run waits until the message is answered, then does that.
void Monitor::raise(const QString& text, std::function<void()> afterAnswer)
{
    m_afterAnswer = std::move(afterAnswer);
    emit messageRaised(text, platform::applicationTitle(), platform::MessageIcon::None);
    // A run that nobody answers for goes on by itself, from the event loop as an answer would come.
    if (!m_options.waitsForAnswers && m_afterAnswer)
        QTimer::singleShot(0, this, [this] { answerMessage(); });
}

void Monitor::answerMessage()
{
    if (auto next = std::exchange(m_afterAnswer, nullptr))
        next();
}

bool Monitor::start(const MonitorSettings& settings, int firstCheckMs)
{
    if (m_phase != Phase::Idle)
        return false;
    m_settings = settings;
    m_alerts->setSettings(settings);
    // A run whose first check waits renews its logs when that check begins, so that thousands of sites started
    // together spread that work over their first interval too.
    m_logsDue = firstCheckMs > 0 && m_options.site > 0;
    if (!m_logsDue)
        renewLogs();

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
    m_figures = RunFigures{};
    m_status = SiteStatus::Working;
    m_alerts->runStarted();
    m_alerts->setRecordNumber({});
    m_slowness = {};
    m_certificateWatch = {};
    m_firstCheckMs = qMax(0, firstCheckMs);
    m_phase = Phase::Checking;
    emit runStarted();
    nextPass();
    return true;
}

void Monitor::woken()
{
    if (m_phase == Phase::Waiting)
        waitStep();
    else if (m_phase == Phase::Checking)
        nextPass();
}

// The run's next step from the event loop after ms; a step asked for earlier is dropped.
void Monitor::wakeIn(qint64 ms)
{
    cancelWake();
    const quint64 generation = m_wakeGeneration;
    const auto wake = [this, generation] {
        if (generation == m_wakeGeneration)
            woken();
    };
    if (ms <= 0)
        QMetaObject::invokeMethod(this, wake, Qt::QueuedConnection);
    else if (m_options.wakes)
        m_wakeTicket = m_options.wakes->wakeIn(ms, wake);
    else
        m_timer.start(int(ms));
}

void Monitor::cancelWake()
{
    ++m_wakeGeneration;
    m_timer.stop();
    if (m_options.wakes && m_wakeTicket != 0)
        m_options.wakes->cancel(std::exchange(m_wakeTicket, 0));
}

void Monitor::renewLogs()
{
    m_logsDue = false;
    m_logFiles->createnewlogfile();
    m_logFiles->recreateRecordFile();
}

void Monitor::stop()
{
    // A check under way still logs its line: the run closes the files when it ends after that check.
    if (m_phase != Phase::Checking)
        closeAllFiles();
    m_state.StopScan = true;
    if (m_phase == Phase::Waiting) {
        wakeIn(0);
    }
}

void Monitor::setSettings(const MonitorSettings& settings)
{
    m_settings = settings;
    m_alerts->setSettings(settings);
    if (m_phase == Phase::Waiting)
        waitStep();
}

void Monitor::abandon()
{
    cancelWake();
    m_checkCycle->cancel();
    m_pageCheck->cancel();
    ++m_cycle;
    m_afterAnswer = nullptr;
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
    if (m_state.CheckCounter != 1 || m_firstCheckMs > 0) {
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
        cancelWake();
        endWithScanStopped();
        return;
    }
    const qint64 elapsed = m_services.clock.monotonicMs() - m_waitStart;
    const double wait = m_state.CheckCounter == 1 ? double(m_firstCheckMs) : m_settings.intervalSeconds * 1000.0;
    const double remaining = wait - double(elapsed);
    if (remaining <= 0) {
        cancelWake();
        m_firstCheckMs = 0;
        m_phase = Phase::Checking;
        check();
        return;
    }
    // Wake when the interval is over; a change of the interval or Stop wakes the wait sooner.
    wakeIn(qint64(std::min(std::ceil(remaining), 86'400'000.0)));
}

void Monitor::check()
{
    m_phase = Phase::Checking;
    if (m_logsDue)
        renewLogs();
    const bool connected = openinternetconnection(m_services.connection);
    emit connectionChecked(connected);
    if (!connected) {
        emit resultLineAdded(QStringLiteral("Failed to connect to internet!"));
        m_figures.unreachable();
        setStatus(SiteStatus::NoConnection);
        if (!m_options.retriesOffline) {
            finishRun(RunEnd::NoConnection);
            return;
        }
        // The check is tried again, under the same number, when the interval has passed.
        if (m_state.CheckCounter == 1)
            m_firstCheckMs = int(std::min(m_settings.intervalSeconds * 1000.0, 86'400'000.0));
        wakeIn(0);
        return;
    }
    setStatus(SiteStatus::Working);
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
            process();
        });
        return;
    }
    m_state.PageToken = kBlankToken;
    process();
}

// The check proper: resolve, echo and log, then the notification decision.
void Monitor::process()
{
    ++m_cycle;
    m_state.RecordNumber.clear();
    m_alerts->setRecordNumber({});
    const CheckInputs inputs{m_settings.webAddress, m_settings.packetString, m_state.CheckNumberText,
                             m_state.PageToken,     m_state.ReplyCount,      m_state.TripTimeTotal};
    m_checkCycle->process(
        inputs, [this](const QString& address) { emit siteAddressResolved(address); },
        [this](const CheckOutcome& outcome) { checked(outcome); });
}

void Monitor::checked(const CheckOutcome& outcome)
{
    m_figures.checked(outcome.socketsMissing ? std::nullopt : outcome.tripMs);
    m_figures.pageFetchMs = m_pageFetchMs;
    const auto& certificate = m_pageFetched ? m_pageCheck->certificate() : std::nullopt;
    m_figures.certificateExpiry = certificate ? certificate->chainExpiry : QDateTime();
    if (outcome.socketsMissing) {
        for (const QString& line : outcome.lines)
            emit resultLineAdded(line);
        setStatus(SiteStatus::NoConnection);
        emit statusTextChanged(outcome.statusText);
        afterCycle();
        return;
    }
    emit echoReported(outcome.report);
    emit statusTextChanged(outcome.statusText);
    m_state.ReplyCount = outcome.replyCount;
    m_state.TripTimeTotal = outcome.tripTimeTotal;
    m_state.RecordNumber = outcome.recordNumber;
    m_alerts->setRecordNumber(outcome.recordNumber);
    // The result line and the faces show each check as it is; the notification sees the ping through the
    // slot's failure and recovery thresholds.
    m_alerts->echoChecked(outcome.failed, outcome.report.statusText);
    if (outcome.failed)
        m_state.PingOk = false;
    emit resultLineAdded(outcome.resultLine);
    emit echoMeasured(EchoSample{outcome.at, outcome.tripMs, outcome.averageMs, outcome.pageToken});
    if (outcome.failed)
        setStatus(SiteStatus::NotAnswering);

    // The warnings beside the status changes: the site turning slow or fast again, and the certificate of the
    // checked page nearing its expiry.
    const store::AlertSettings& alerts = m_settings.alerts;
    if (const auto change =
            m_slowness.add({outcome.tripMs, m_pageFetchMs, m_pageFetched}, alerts.slowMs, alerts.failuresBeforeAlert)) {
        emit slownessChanged(change->slow, change->detail);
    }
    if (certificate && m_certificateWatch.seen(certificate->expiry, m_services.clock.now(),
                                               m_services.clock.monotonicMs(), alerts.certificateDays)) {
        emit certificateExpiring(certificate->expiry, certificate->issuer);
    }
    checkstatuschangeandsendemailifrequired();
}

// The notification decision at the end of the check. A notification is sent to its own end whatever the run
// does meanwhile; the run goes on once its disconnect delay has passed.
void Monitor::checkstatuschangeandsendemailifrequired()
{
    mail::StatusFlags flags{m_alerts->pingOk(), m_state.PageOk, m_state.LastPingOk, m_state.LastPageOk};
    const bool send = mail::decideNotification(flags, m_settings.emailNotification, m_settings.checkMainPage);
    QList<SiteChange> changes;
    if (flags.LastPingOk != m_state.LastPingOk)
        changes.append(flags.LastPingOk ? SiteChange::PingAnswering : SiteChange::PingFailing);
    if (flags.LastPageOk != m_state.LastPageOk)
        changes.append(flags.LastPageOk ? SiteChange::PageTextFound : SiteChange::PageTextLost);
    for (SiteChange change : changes)
        emit siteChanged(change);
    m_state.LastPingOk = flags.LastPingOk;
    m_state.LastPageOk = flags.LastPageOk;
    // A notification may outlast a dropped check: its end must not go on with a later one.
    m_alerts->checkEnded(changes, send, [this, cycle = m_cycle] {
        if (cycle != m_cycle)
            return;
        probe::cleanupsockets();
        afterCycle();
    });
}

void Monitor::afterCycle()
{
    m_state.CheckCounter += 1;
    // The next pass starts from the event loop, so even without a wait the program handles its events
    // between checks and Stop acts at once.
    if (m_settings.autoDisconnect && !hangupinternetconnection(m_services.connection)) {
        raise(QStringLiteral("Cannot auto disconnect. Please disconnect manually"), [this] {
            setStatus(SiteStatus::NoConnection);
            wakeIn(0);
        });
        return;
    }
    wakeIn(0);
}

void Monitor::endWithScanStopped()
{
    m_phase = Phase::Ending;
    raise(QStringLiteral("Scan Stopped"), [this] { finishRun(RunEnd::Stopped); });
}

void Monitor::finishRun(RunEnd end)
{
    closeAllFiles();
    m_phase = Phase::Idle;
    emit runFinished(end);
}

void Monitor::setStatus(SiteStatus status)
{
    m_status = status;
    emit statusChanged(status);
}

} // namespace sondrel::core
