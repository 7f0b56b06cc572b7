#include "core/WakeQueue.h"

#include <algorithm>
#include <vector>

namespace sondrel::core {

WakeQueue::WakeQueue(platform::Clock& clock, QObject* parent)
    : QObject(parent)
    , m_clock(clock)
{
    m_timer.setSingleShot(true);
    m_timer.setTimerType(Qt::PreciseTimer);
    connect(&m_timer, &QTimer::timeout, this, &WakeQueue::wakeDue);
}

WakeQueue::Ticket WakeQueue::wakeIn(qint64 inMs, std::function<void()> wake)
{
    const Ticket ticket = m_next++;
    const qint64 due = m_clock.monotonicMs() + std::max<qint64>(0, inMs);
    const bool earliest = m_due.empty() || due < m_due.begin()->first.first;
    m_due.emplace(std::pair{due, ticket}, std::move(wake));
    m_dueOf.emplace(ticket, due);
    if (earliest)
        arm();
    return ticket;
}

void WakeQueue::cancel(Ticket ticket)
{
    const auto found = m_dueOf.find(ticket);
    if (found == m_dueOf.end())
        return;
    m_due.erase({found->second, ticket});
    m_dueOf.erase(found);
}

void WakeQueue::arm()
{
    if (m_due.empty()) {
        m_timer.stop();
        return;
    }
    const qint64 in = m_due.begin()->first.first - m_clock.monotonicMs();
    m_timer.start(int(std::clamp<qint64>(in, 0, 86'400'000)));
}

void WakeQueue::wakeDue()
{
    // Everything due now is taken out first: a wake may ask for, or cancel, further wakes.
    const qint64 now = m_clock.monotonicMs();
    std::vector<std::function<void()>> due;
    while (!m_due.empty() && m_due.begin()->first.first <= now) {
        m_dueOf.erase(m_due.begin()->first.second);
        due.push_back(std::move(m_due.begin()->second));
        m_due.erase(m_due.begin());
    }
    arm();
    for (std::function<void()>& wake : due)
        wake();
}

} // namespace sondrel::core
