#include "core/AlertMailer.h"

#include "probe/ResultLine.h"

#include <algorithm>
#include <memory>
#include <utility>

namespace sondrel::core {

namespace {

const QString kLineEnd = QStringLiteral("\r\n");

QString moment(const QDateTime& when)
{
    return probe::lineDate(when) + u' ' + probe::lineTime(when);
}

// Runs done once every part handed out has run and the joiner itself has been released.
class Join {
public:
    explicit Join(std::function<void()> done)
        : m_state(std::make_shared<State>(State{1, std::move(done)}))
    {
    }
    std::function<void()> part()
    {
        ++m_state->pending;
        return [state = m_state] { finishOne(*state); };
    }
    void release() { finishOne(*m_state); }

private:
    struct State {
        int pending;
        std::function<void()> done;
    };
    static void finishOne(State& state)
    {
        if (--state.pending == 0 && state.done)
            std::exchange(state.done, nullptr)();
    }
    std::shared_ptr<State> m_state;
};

} // namespace

AlertMailer::AlertMailer(platform::Clock& clock, NotificationSink& sink)
    : m_clock(clock)
    , m_sink(sink)
{
    m_snoozeTimer.setSingleShot(true);
    connect(&m_snoozeTimer, &QTimer::timeout, this, [this] {
        endSnoozeIfOver();
        if (m_snoozedUntil.isValid())
            armSnoozeTimer();
    });
}

void AlertMailer::setSettings(const MonitorSettings& settings)
{
    m_emailNotification = settings.emailNotification;
    m_alerts = settings.alerts;
}

void AlertMailer::runStarted()
{
    m_policy.reset();
    m_reportedDown = false;
    m_lastNoticeMs = 0;
}

bool AlertMailer::echoChecked(bool failed, const QString& statusText)
{
    return m_policy.record(failed, {m_clock.monotonicMs(), m_clock.now()}, statusText, m_alerts);
}

void AlertMailer::checkEnded(const QList<SiteChange>& changes, bool send, std::function<void()> done)
{
    // A snooze whose time has passed ends before this check's e-mails, which then go out as usual.
    endSnoozeIfOver();
    const qint64 nowMs = m_clock.monotonicMs();
    bool recovered = false;
    for (SiteChange change : changes) {
        if (change == SiteChange::PingFailing) {
            m_reportedDown = send;
            m_lastNoticeMs = nowMs;
        } else if (change == SiteChange::PingAnswering) {
            recovered = send && m_reportedDown && m_alerts.sendRecoveryNotice;
            m_reportedDown = false;
        }
    }

    Join join(std::move(done));
    if (send) {
        if (m_snoozedUntil.isValid()) {
            for (SiteChange change : changes)
                keep(changeText(change, recovered));
        } else if (recovered) {
            const AlertPolicy::Moment& down = m_policy.firstFailure();
            const AlertPolicy::Moment& back = m_policy.answeringSince();
            sendComposed(QStringLiteral("recovered"),
                         QStringLiteral("The site answers again since ") + moment(back.at) + u'.' + kLineEnd +
                             QStringLiteral("First failure: ") + moment(down.at) + kLineEnd +
                             QStringLiteral("Downtime: ") + durationText(back.ms - down.ms) + kLineEnd +
                             QStringLiteral("Last failure: ") + m_policy.lastFailureStatus() + kLineEnd + kLineEnd,
                         join.part());
        } else {
            QStringList summary;
            for (SiteChange change : changes)
                summary.append(changeText(change, recovered));
            m_sink.send(m_recordNumber, QString(), QString(), summary.join(QStringLiteral("; ")), join.part());
        }
    }

    const qint64 remindMs = qint64(m_alerts.remindMinutes) * 60'000;
    if (m_reportedDown && !m_policy.pingOk() && m_emailNotification && remindMs > 0 &&
        nowMs - m_lastNoticeMs >= remindMs) {
        m_lastNoticeMs = nowMs;
        const AlertPolicy::Moment& down = m_policy.firstFailure();
        const QString text = QStringLiteral("Reminder: the site has been down for ") + durationText(nowMs - down.ms) +
                             QStringLiteral(" (since ") + moment(down.at) + QStringLiteral(")");
        alert(QStringLiteral("reminder"), text + kLineEnd + kLineEnd, text, join.part());
    }
    join.release();
}

QString AlertMailer::changeText(SiteChange change, bool recovered) const
{
    switch (change) {
    case SiteChange::PingFailing:
        return QStringLiteral("The site stopped answering: ") + m_policy.lastFailureStatus();
    case SiteChange::PingAnswering:
        if (recovered) {
            const qint64 downMs = m_policy.answeringSince().ms - m_policy.firstFailure().ms;
            return QStringLiteral("The site answers again after ") + durationText(downMs) +
                   QStringLiteral(" down (first failure ") + moment(m_policy.firstFailure().at) + u')';
        }
        return QStringLiteral("The site answers again");
    case SiteChange::PageTextLost:
        return QStringLiteral("The main site string is missing from the page");
    case SiteChange::PageTextFound:
        return QStringLiteral("The main site string is on the page again");
    }
    return {};
}

void AlertMailer::slownessChanged(bool slow, const QString& detail)
{
    if (!m_emailNotification)
        return;
    const QString text =
        (slow ? QStringLiteral("The site is slow: ") : QStringLiteral("The site is fast again: ")) + detail;
    alert(slow ? QStringLiteral("slow") : QStringLiteral("fast again"), text + kLineEnd + kLineEnd, text);
}

void AlertMailer::certificateExpiring(const QDateTime& expiry, const QString& issuer)
{
    if (!m_emailNotification)
        return;
    const QDateTime local = expiry.toLocalTime();
    const QString text = QStringLiteral("The site's certificate expires on ") + moment(local) +
                         QStringLiteral(" (issuer: ") + issuer + QStringLiteral(").");
    alert(QStringLiteral("certificate expires ") + probe::lineDate(local), text + kLineEnd + kLineEnd, text);
}

void AlertMailer::alert(const QString& subjectSuffix, const QString& lead, const QString& summaryLine,
                        std::function<void()> done)
{
    if (m_snoozedUntil.isValid()) {
        keep(summaryLine);
        if (done)
            done();
        return;
    }
    sendComposed(subjectSuffix, lead, std::move(done));
}

void AlertMailer::sendComposed(const QString& subjectSuffix, const QString& lead, std::function<void()> done)
{
    if (!done)
        done = [] {};
    m_sink.send(m_recordNumber, subjectSuffix, lead, subjectSuffix, std::move(done));
}

void AlertMailer::keep(const QString& summaryLine)
{
    m_kept.append(moment(m_clock.now()) + u' ' + summaryLine);
}

void AlertMailer::snoozeUntil(const QDateTime& until)
{
    if (!until.isValid())
        return;
    if (!m_snoozedUntil.isValid())
        m_snoozedSince = m_clock.now();
    m_snoozedUntil = until;
    armSnoozeTimer();
    emit snoozeChanged(m_snoozedUntil);
}

void AlertMailer::resume()
{
    if (m_snoozedUntil.isValid())
        endSnooze();
}

void AlertMailer::endSnoozeIfOver()
{
    if (m_snoozedUntil.isValid() && m_clock.now() >= m_snoozedUntil)
        endSnooze();
}

void AlertMailer::endSnooze()
{
    m_snoozeTimer.stop();
    const QStringList kept = std::exchange(m_kept, {});
    const QDateTime since = std::exchange(m_snoozedSince, {});
    const QDateTime until = std::exchange(m_snoozedUntil, {});
    emit snoozeChanged({});
    if (kept.isEmpty() || !m_emailNotification)
        return;
    const QDateTime now = m_clock.now();
    QString lead = QStringLiteral("Alerts were snoozed from ") + moment(since) + QStringLiteral(" until ") +
                   moment(std::min(now, until)) + QStringLiteral(". Meanwhile:") + kLineEnd;
    for (const QString& line : kept)
        lead += line + kLineEnd;
    sendComposed(QStringLiteral("snoozed alerts"), lead + kLineEnd, {});
}

// A wall-clock end is checked again when the timer fires, so a clock set meanwhile only moves the end's check.
void AlertMailer::armSnoozeTimer()
{
    const qint64 ms = std::clamp<qint64>(m_clock.now().msecsTo(m_snoozedUntil), 0, 3'600'000);
    m_snoozeTimer.start(int(ms));
}

QString AlertMailer::durationText(qint64 ms)
{
    const qint64 seconds = std::max<qint64>(0, ms / 1000);
    if (seconds < 60)
        return QStringLiteral("%1 s").arg(seconds);
    const qint64 minutes = seconds / 60;
    const qint64 days = minutes / (24 * 60);
    const qint64 hours = minutes / 60 % 24;
    QStringList parts;
    if (days > 0)
        parts.append(QStringLiteral("%1 d").arg(days));
    if (hours > 0)
        parts.append(QStringLiteral("%1 h").arg(hours));
    if (minutes % 60 > 0)
        parts.append(QStringLiteral("%1 min").arg(minutes % 60));
    return parts.join(u' ');
}

QDateTime AlertMailer::nextMorning(const QDateTime& now)
{
    QDateTime morning(now.date(), QTime(8, 0));
    if (morning <= now)
        morning = QDateTime(now.date().addDays(1), QTime(8, 0));
    return morning;
}

} // namespace sondrel::core
