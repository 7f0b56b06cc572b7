#pragma once

#include "core/DeliveryStarter.h"
#include "core/NotificationComposer.h"
#include "core/Outbox.h"

#include <QObject>

#include <functional>
#include <list>
#include <vector>

namespace sondrel::core {

// The first attempts of the notifications, one exchange at a time in the order they were decided, whichever run
// decided them. A run goes on once its notification's attempt is over (the disconnect delay after the last
// reply), or at once when the notification waits for its turn. Destroying the lane drops every delivery without
// callbacks.
class FirstAttemptLane final : public QObject {
public:
    // attempted hears each exchange's outcome with the notification as an outbox entry that counts that attempt.
    using Attempted = std::function<void(Outbox::Stored attempted, const MailDelivery::Result& result)>;

    FirstAttemptLane(DeliveryStarter& starter, Attempted attempted, QObject* parent = nullptr);
    ~FirstAttemptLane() override;

    // path is the notification's outbox file, empty when it has none; done runs from the event loop.
    void add(const Notification& notification, const QString& path, std::function<void()> done);

    // No notification is under way or waiting for its first attempt.
    bool isIdle() const { return m_entries.empty(); }
    // The notifications whose exchange is not over, as the outbox keeps them when the program ends.
    std::vector<Outbox::Stored> unfinished(const QDateTime& now) const;

private:
    struct Entry {
        std::unique_ptr<MailDelivery> delivery;
        std::shared_ptr<mail::SmtpFields> fields;
        std::function<void()> done;
        bool started = false;
        QDateTime firstAttempt;
        QString path;
    };

    bool busy() const;
    void startNext();
    void retireIfOver(MailDelivery* delivery);
    std::list<Entry>::iterator find(MailDelivery* delivery);

    DeliveryStarter& m_starter;
    Attempted m_attempted;
    std::list<Entry> m_entries;
};

} // namespace sondrel::core
