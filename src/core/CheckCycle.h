#pragma once

#include "core/RunEvents.h"
#include "platform/PendingOperation.h"

#include <QDateTime>
#include <QString>
#include <QStringList>
#include <QtGlobal>

#include <functional>
#include <memory>
#include <optional>

namespace sondrel::platform {
class HostResolver;
class IcmpEcho;
struct EchoReply;
} // namespace sondrel::platform
namespace sondrel::store {
class LogFiles;
}

namespace sondrel::core {

// What one check needs to know of its run.
struct CheckInputs {
    QString webAddress;      // as typed: the name to ping is taken from it
    QString packetString;    // the echo's data
    QString checkNumberText; // the check number as shown, from which the record number is made
    QString pageToken;       // the page check's outcome for the result line
    qint64 replyCount = 0;   // the run's answered checks so far
    qint64 tripTimeTotal = 0;
};

// What one check found.
struct CheckOutcome {
    bool socketsMissing = false; // no ICMP socket could be opened: nothing was sent and nothing logged
    QStringList lines;           // the lines for the result list, in order
    QString statusText;          // the text that explains the status, for the status picture's tooltip
    EchoReport report;
    bool failed = true;
    std::optional<qint64> tripMs; // none when the check failed
    QString recordNumber;         // the check's number with leading zeros
    QString resultLine;
    QString pageToken;
    QDateTime at;
    qint64 replyCount = 0; // the run's counters with this check
    qint64 tripTimeTotal = 0;
    qint64 averageMs = 0;
};

// One check of the site: resolve its name, send one echo, write the result line to the logs. Resolution
// and echo complete later, so the cycle continues from their callbacks and hands its outcome to done.
class CheckCycle final {
public:
    CheckCycle(platform::IcmpEcho& echo, platform::HostResolver& resolver, store::LogFiles& logs,
               std::function<QDateTime()> now);
    ~CheckCycle();

    // resolved hears the site's address in dotted form (empty when unresolved) before the echo is sent.
    void process(const CheckInputs& inputs, std::function<void(const QString&)> resolved,
                 std::function<void(const CheckOutcome&)> done);
    // Drops a cycle under way without calling its callbacks.
    void cancel();

    // The line shown after the sockets line when no ICMP socket can be opened.
    static QString socketHelpLine();

private:
    void echoed(qint32 status, const platform::EchoReply& reply);

    platform::IcmpEcho& m_echo;
    platform::HostResolver& m_resolver;
    store::LogFiles& m_logs;
    std::function<QDateTime()> m_now;
    CheckInputs m_inputs;
    std::function<void(const QString&)> m_resolved;
    std::function<void(const CheckOutcome&)> m_done;
    std::unique_ptr<platform::PendingOperation> m_pending;
};

} // namespace sondrel::core
