#pragma once

#include "platform/PendingOperation.h"

#include <QString>
#include <QtGlobal>

#include <functional>
#include <memory>
#include <optional>

namespace sondrel::platform {
struct EchoReply;
}

namespace sondrel::core {

class Monitor;

// One check of the site: resolve its name, send one echo, write the result line to the list and the
// logs, and let the notification decision react. Resolution, echo and notification complete later, so
// the cycle continues from their callbacks and tells the run when it has ended.
class CheckCycle final {
public:
    explicit CheckCycle(Monitor& monitor);
    ~CheckCycle();

    void process(std::function<void()> done);
    // Drops a cycle under way without calling its done.
    void cancel();

    // The line shown after the sockets line when no ICMP socket can be opened.
    static QString socketHelpLine();

private:
    void resolved(const QString& address);
    void echoed(qint32 status, const platform::EchoReply& reply);
    void watchSlownessAndCertificate(std::optional<qint64> tripMs);
    void checkstatuschangeandsendemailifrequired();
    void finish();

    Monitor& m_monitor;
    std::function<void()> m_done;
    std::unique_ptr<platform::PendingOperation> m_pending;
    quint64 m_cycle = 0;
};

} // namespace sondrel::core
