#include "core/FirstAttemptLane.h"

#include <QTimer>

#include <algorithm>

namespace sondrel::core {

FirstAttemptLane::FirstAttemptLane(DeliveryStarter& starter, Attempted attempted, QObject* parent)
    : QObject(parent)
    , m_starter(starter)
    , m_attempted(std::move(attempted))
{
}

FirstAttemptLane::~FirstAttemptLane()
{
    m_entries.clear();
}

bool FirstAttemptLane::busy() const
{
    return std::any_of(m_entries.begin(), m_entries.end(),
                       [](const Entry& entry) { return entry.started && !entry.delivery->exchangeOver(); });
}

void FirstAttemptLane::add(const Notification& notification, const QString& path, std::function<void()> done)
{
    auto fields = std::make_shared<mail::SmtpFields>(notification.fields);
    std::unique_ptr<MailDelivery> delivery = m_starter.create(fields, notification.lingerSeconds);
    MailDelivery* raw = delivery.get();
    connect(raw, &MailDelivery::exchangeEnded, this, [this, raw](const MailDelivery::Result& result) {
        if (const auto entry = find(raw); entry != m_entries.end()) {
            OutboxEntry attempted = outboxEntryFor(*entry->fields, entry->firstAttempt);
            attempted.attempts = 1;
            m_attempted({entry->path, std::move(attempted)}, result);
        }
        retireIfOver(raw);
        startNext();
    });
    connect(raw, &MailDelivery::attemptEnded, this, [this, raw] {
        const auto entry = find(raw);
        std::function<void()> runGoesOn = entry != m_entries.end() ? std::exchange(entry->done, nullptr) : nullptr;
        retireIfOver(raw);
        if (runGoesOn)
            runGoesOn();
    });

    // A notification that must wait for its turn lets its run go on at once.
    if (busy()) {
        m_entries.push_back({std::move(delivery), fields, nullptr, false, {}, path});
        QTimer::singleShot(0, this, std::move(done));
        return;
    }
    m_entries.push_back({std::move(delivery), fields, std::move(done), false, {}, path});
    startNext();
}

void FirstAttemptLane::startNext()
{
    if (busy())
        return;
    for (Entry& entry : m_entries) {
        if (entry.started)
            continue;
        entry.started = true;
        entry.firstAttempt = m_starter.clock().now();
        m_starter.start(entry.delivery.get(), entry.fields);
        return;
    }
}

std::vector<Outbox::Stored> FirstAttemptLane::unfinished(const QDateTime& now) const
{
    // A notification whose exchange is not over may or may not have reached the server; it is kept, since an
    // alert told twice does less harm than one lost. One still waiting for its turn was never tried.
    std::vector<Outbox::Stored> kept;
    for (const Entry& entry : m_entries) {
        if (entry.started && entry.delivery->exchangeOver())
            continue;
        OutboxEntry stored = outboxEntryFor(*entry.fields, entry.firstAttempt.isValid() ? entry.firstAttempt : now);
        stored.nextAttempt = now;
        stored.attempts = entry.started ? 1 : 0;
        stored.lastError = entry.started ? QStringLiteral("The program ended during the attempt") : QString();
        kept.push_back({entry.path, std::move(stored)});
    }
    return kept;
}

std::list<FirstAttemptLane::Entry>::iterator FirstAttemptLane::find(MailDelivery* delivery)
{
    return std::find_if(m_entries.begin(), m_entries.end(),
                        [delivery](const Entry& entry) { return entry.delivery.get() == delivery; });
}

// A delivery whose exchange and attempt are both over leaves the lane. It may be in the middle of emitting, so it
// is destroyed from the event loop.
void FirstAttemptLane::retireIfOver(MailDelivery* delivery)
{
    const auto entry = find(delivery);
    if (entry == m_entries.end() || !delivery->exchangeOver() || !delivery->attemptOver())
        return;
    MailDelivery* retired = entry->delivery.release();
    retired->setParent(this); // destroyed with the lane should the event loop not come round again
    retired->deleteLater();
    m_entries.erase(entry);
}

} // namespace sondrel::core
