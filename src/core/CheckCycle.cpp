#include "core/CheckCycle.h"

#include "core/AlertMailer.h"
#include "core/Monitor.h"
#include "core/NotificationQueue.h"
#include "mail/NotificationDecision.h"
#include "platform/CodePage.h"
#include "probe/EchoProbe.h"
#include "probe/PageAddress.h"
#include "probe/PageCheck.h"
#include "probe/ResultLine.h"
#include "store/LogFiles.h"

#include <QCoreApplication>
#include <QDateTime>

namespace sondrel::core {

CheckCycle::CheckCycle(Monitor& monitor)
    : m_monitor(monitor)
{
}

CheckCycle::~CheckCycle() = default;

QString CheckCycle::socketHelpLine()
{
    return QStringLiteral("ICMP sockets are not allowed for this user: allow ping sockets with "
                          "\"sysctl -w net.ipv4.ping_group_range='0 2147483647'\" or give the program the "
                          "capability with \"setcap cap_net_raw+ep %1\".")
        .arg(QCoreApplication::applicationFilePath());
}

void CheckCycle::process(std::function<void()> done)
{
    m_done = std::move(done);
    ++m_cycle;
    Monitor& m = m_monitor;
    m.m_state.RecordNumber.clear();

    if (!probe::startsockets(m.m_services.echo)) {
        emit m.resultLineAdded(QStringLiteral("Windows Sockets for 32 bit Windows is not successfully responding."));
        emit m.resultLineAdded(socketHelpLine());
        emit m.statusChanged(SiteStatus::NoConnection);
        emit m.statusTextChanged(socketHelpLine());
        finish();
        return;
    }
    m_pending = probe::gethostip(m.m_services.resolver, probe::pingTarget(m.m_settings.webAddress),
                                 [this](const QString& address) { resolved(address); });
}

namespace {

// An operation whose callback is running must outlive the callback: destroy it from the event loop.
void retire(std::unique_ptr<platform::PendingOperation>& pending)
{
    if (!pending)
        return;
    std::shared_ptr<platform::PendingOperation> finished(std::move(pending));
    QMetaObject::invokeMethod(
        QCoreApplication::instance(), [finished] {}, Qt::QueuedConnection);
}

} // namespace

void CheckCycle::resolved(const QString& address)
{
    retire(m_pending);
    emit m_monitor.siteAddressResolved(address);
    m_pending = probe::pingaddress(m_monitor.m_services.echo, address, m_monitor.m_settings.packetString,
                                   [this](qint32 status, const platform::EchoReply& reply) { echoed(status, reply); });
}

void CheckCycle::echoed(qint32 status, const platform::EchoReply& reply)
{
    retire(m_pending);
    Monitor& m = m_monitor;
    RunState& state = m.m_state;

    EchoReport report;
    report.statusText = probe::pingstatustext(status);
    report.tripTimeText = QString::number(reply.tripTime) + QStringLiteral(" ms");
    report.bytesUsed = QString::number(reply.dataSize);
    // "Packet Returned" keeps its earlier text when nothing came back or the data area has no end.
    if (reply.data[0] != '\0') {
        const auto end = std::find(reply.data.begin(), reply.data.end(), '\0');
        if (end != reply.data.end())
            report.packetReturned = platform::fromCodePage(QByteArrayView(reply.data.data(), end - reply.data.begin()));
    }
    emit m.echoReported(report);
    emit m.statusTextChanged(report.statusText);

    // Every outcome but a reply is a failure: an unresolved name, no answer, an ICMP error, a refused send.
    const bool failed = status != platform::IpStatus::Success;
    if (!failed)
        state.TripTimeTotal += reply.tripTime;

    state.RecordNumber = probe::recordNumberFor(state.CheckNumberText);
    const QDateTime now = m.m_services.clock.now();
    const QString date = probe::lineDate(now);
    const QString time = probe::lineTime(now);

    // The result line and the faces show each check as it is; the notification sees the ping through the
    // slot's failure and recovery thresholds.
    m.m_alerts->echoChecked(failed, report.statusText);
    QString line;
    if (failed) {
        state.PingOk = false;
        line = probe::failureLine(state.RecordNumber, date, time, state.PageToken);
    } else {
        ++state.ReplyCount;
        const qint64 average = probe::averageTripTime(state.TripTimeTotal, state.ReplyCount);
        line = probe::replyLine(state.RecordNumber, date, time, report.tripTimeText, average, state.PageToken);
    }
    emit m.resultLineAdded(line);
    emit m.echoMeasured(EchoSample{now, failed ? std::nullopt : std::optional<qint64>(reply.tripTime),
                                   probe::averageTripTime(state.TripTimeTotal, state.ReplyCount)});
    m.m_logFiles->addtologfile(line, state.RecordNumber);
    if (failed)
        emit m.statusChanged(SiteStatus::NotAnswering);
    watchSlownessAndCertificate(failed ? std::nullopt : std::optional<qint64>(reply.tripTime));

    checkstatuschangeandsendemailifrequired();
}

// The warnings beside the status changes: the site turning slow or fast again, and the certificate of the checked
// page nearing its expiry.
void CheckCycle::watchSlownessAndCertificate(std::optional<qint64> tripMs)
{
    Monitor& m = m_monitor;
    const store::AlertSettings& alerts = m.m_settings.alerts;
    if (const auto change =
            m.m_slowness.add({tripMs, m.m_pageFetchMs, m.m_pageFetched}, alerts.slowMs, alerts.failuresBeforeAlert))
        emit m.slownessChanged(change->slow, change->detail);
    if (!m.m_pageFetched)
        return;
    if (const auto certificate = m.m_pageCheck->certificate();
        certificate && m.m_certificateWatch.seen(certificate->expiry, m.m_services.clock.now(),
                                                 m.m_services.clock.monotonicMs(), alerts.certificateDays))
        emit m.certificateExpiring(certificate->expiry, certificate->issuer);
}

// The notification decision at the end of the cycle. A notification is sent to its own end whatever the run
// does meanwhile; the run goes on once its disconnect delay has passed.
void CheckCycle::checkstatuschangeandsendemailifrequired()
{
    Monitor& m = m_monitor;
    RunState& state = m.m_state;
    mail::StatusFlags flags{m.m_alerts->pingOk(), state.PageOk, state.LastPingOk, state.LastPageOk};
    const bool send = mail::decideNotification(flags, m.m_settings.emailNotification, m.m_settings.checkMainPage);
    QList<SiteChange> changes;
    if (flags.LastPingOk != state.LastPingOk)
        changes.append(flags.LastPingOk ? SiteChange::PingAnswering : SiteChange::PingFailing);
    if (flags.LastPageOk != state.LastPageOk)
        changes.append(flags.LastPageOk ? SiteChange::PageTextFound : SiteChange::PageTextLost);
    for (SiteChange change : changes)
        emit m.siteChanged(change);
    state.LastPingOk = flags.LastPingOk;
    state.LastPageOk = flags.LastPageOk;
    // A notification may outlast a cancelled cycle: its end must not finish a later one.
    auto cycleEnds = [this, cycle = m_cycle] {
        if (cycle != m_cycle)
            return;
        probe::cleanupsockets();
        finish();
    };
    m.m_alerts->checkEnded(changes, send, cycleEnds);
}

void CheckCycle::finish()
{
    m_pending.reset();
    if (auto done = std::exchange(m_done, nullptr))
        done();
}

void CheckCycle::cancel()
{
    ++m_cycle;
    m_pending.reset();
    m_done = nullptr;
}

} // namespace sondrel::core
