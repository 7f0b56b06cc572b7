#include "core/NotificationQueue.h"

#include <QTimer>

namespace sondrel::core {

NotificationQueue::NotificationQueue(platform::Services services, QString programFolder, QObject* parent)
    : NotificationQueue(services, programFolder, std::make_unique<PasswordVault>(services.secrets, programFolder),
                        nullptr, parent)
{
}

NotificationQueue::NotificationQueue(platform::Services services, QString programFolder, PasswordVault& passwords,
                                     QObject* parent)
    : NotificationQueue(services, std::move(programFolder), nullptr, &passwords, parent)
{
}

NotificationQueue::NotificationQueue(platform::Services services, QString programFolder,
                                     std::unique_ptr<PasswordVault> own, PasswordVault* shared, QObject* parent)
    : QObject(parent)
    , m_clock(services.clock)
    , m_programFolder(std::move(programFolder))
    , m_ownPasswords(std::move(own))
    , m_starter(services, shared ? *shared : *m_ownPasswords, m_programFolder)
    , m_retrier(m_starter, m_programFolder)
    , m_lane(m_starter, [this](Outbox::Stored attempted, const MailDelivery::Result& result) {
        emit delivered(result);
        m_retrier.settle(std::move(attempted), result);
    })
{
    connect(&m_retrier, &OutboxRetrier::outboxChanged, this, &NotificationQueue::outboxChanged);
    connect(&m_retrier, &OutboxRetrier::outboxNote, this, &NotificationQueue::outboxNote);
}

NotificationQueue::~NotificationQueue()
{
    for (const Outbox::Stored& stored : m_lane.unfinished(m_clock.now()))
        m_retrier.keepForNextStart(stored);
}

void NotificationQueue::notify(const QString& recordNumber, std::function<void()> done)
{
    const std::optional<Notification> notification = readNotification(m_programFolder, recordNumber);
    if (!notification) {
        // Without its settings a notification has nowhere to go.
        QTimer::singleShot(0, this, std::move(done));
        return;
    }
    send(*notification, std::move(done));
}

void NotificationQueue::send(const Notification& notification, std::function<void()> done)
{
    // Written before its first attempt, so that a program that dies meanwhile does not lose it.
    const QString path = m_retrier.write(notification.fields);
    m_lane.add(notification, path, std::move(done));
}

} // namespace sondrel::core
