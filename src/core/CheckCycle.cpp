#include "core/CheckCycle.h"

#include "platform/CodePage.h"
#include "probe/EchoProbe.h"
#include "probe/PageAddress.h"
#include "probe/ResultLine.h"
#include "store/LogFiles.h"

#include <QCoreApplication>

#include <algorithm>

namespace sondrel::core {

CheckCycle::CheckCycle(platform::IcmpEcho& echo, platform::HostResolver& resolver, store::LogFiles& logs,
                       std::function<QDateTime()> now)
    : m_echo(echo)
    , m_resolver(resolver)
    , m_logs(logs)
    , m_now(std::move(now))
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

void CheckCycle::process(const CheckInputs& inputs, std::function<void(const QString&)> resolved,
                         std::function<void(const CheckOutcome&)> done)
{
    cancel();
    m_inputs = inputs;
    m_resolved = std::move(resolved);
    m_done = std::move(done);

    if (!probe::startsockets(m_echo)) {
        CheckOutcome outcome;
        outcome.socketsMissing = true;
        outcome.lines = {QStringLiteral("Windows Sockets for 32 bit Windows is not successfully responding."),
                         socketHelpLine()};
        outcome.statusText = socketHelpLine();
        outcome.pageToken = inputs.pageToken;
        outcome.replyCount = inputs.replyCount;
        outcome.tripTimeTotal = inputs.tripTimeTotal;
        outcome.at = m_now();
        std::exchange(m_done, nullptr)(outcome);
        return;
    }
    m_pending = probe::gethostip(m_resolver, probe::pingTarget(inputs.webAddress), [this](const QString& address) {
        retire(m_pending);
        if (m_resolved)
            m_resolved(address);
        m_pending =
            probe::pingaddress(m_echo, address, m_inputs.packetString,
                               [this](qint32 status, const platform::EchoReply& reply) { echoed(status, reply); });
    });
}

void CheckCycle::echoed(qint32 status, const platform::EchoReply& reply)
{
    retire(m_pending);
    CheckOutcome outcome;
    EchoReport& report = outcome.report;
    report.statusText = probe::pingstatustext(status);
    report.tripTimeText = QString::number(reply.tripTime) + QStringLiteral(" ms");
    report.bytesUsed = QString::number(reply.dataSize);
    // "Packet Returned" keeps its earlier text when nothing came back or the data area has no end.
    if (reply.data[0] != '\0') {
        const auto end = std::find(reply.data.begin(), reply.data.end(), '\0');
        if (end != reply.data.end())
            report.packetReturned = platform::fromCodePage(QByteArrayView(reply.data.data(), end - reply.data.begin()));
    }
    outcome.statusText = report.statusText;

    // Every outcome but a reply is a failure: an unresolved name, no answer, an ICMP error, a refused send.
    outcome.failed = status != platform::IpStatus::Success;
    outcome.replyCount = m_inputs.replyCount;
    outcome.tripTimeTotal = m_inputs.tripTimeTotal;
    if (!outcome.failed) {
        outcome.tripMs = reply.tripTime;
        outcome.tripTimeTotal += reply.tripTime;
        ++outcome.replyCount;
    }
    outcome.averageMs = probe::averageTripTime(outcome.tripTimeTotal, outcome.replyCount);
    outcome.recordNumber = probe::recordNumberFor(m_inputs.checkNumberText);
    outcome.pageToken = m_inputs.pageToken;
    outcome.at = m_now();
    const QString date = probe::lineDate(outcome.at);
    const QString time = probe::lineTime(outcome.at);
    outcome.resultLine = outcome.failed ? probe::failureLine(outcome.recordNumber, date, time, outcome.pageToken)
                                        : probe::replyLine(outcome.recordNumber, date, time, report.tripTimeText,
                                                           outcome.averageMs, outcome.pageToken);
    outcome.lines = {outcome.resultLine};
    m_logs.addtologfile(outcome.resultLine, outcome.recordNumber);
    if (auto done = std::exchange(m_done, nullptr))
        done(outcome);
}

void CheckCycle::cancel()
{
    m_pending.reset();
    m_resolved = nullptr;
    m_done = nullptr;
}

} // namespace sondrel::core
