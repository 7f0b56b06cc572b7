#pragma once

#include "platform/Clock.h"

#include <QObject>
#include <QTimer>

#include <functional>
#include <map>
#include <unordered_map>

namespace sondrel::core {

// The waits of many runs on one timer: each run asks to be woken at a time of the monotonic clock, and the queue
// keeps the earliest due time on its one timer. Thousands of runs waiting between checks would otherwise each hold
// a timer of the event loop, whose every start and stop costs time in proportion to their number.
class WakeQueue final : public QObject {
public:
    using Ticket = quint64;

    explicit WakeQueue(platform::Clock& clock, QObject* parent = nullptr);

    // wake runs from the event loop once inMs have passed (at once for 0 or less). The ticket cancels it.
    Ticket wakeIn(qint64 inMs, std::function<void()> wake);
    // A ticket that was woken or cancelled already is ignored.
    void cancel(Ticket ticket);
    std::size_t waiting() const { return m_due.size(); }

private:
    void arm();
    void wakeDue();

    platform::Clock& m_clock;
    QTimer m_timer;
    Ticket m_next = 1;
    std::map<std::pair<qint64, Ticket>, std::function<void()>> m_due; // by due time, then by order of asking
    std::unordered_map<Ticket, qint64> m_dueOf;
};

} // namespace sondrel::core
