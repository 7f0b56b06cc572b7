#include "core/NotificationSink.h"

#include "core/NotificationQueue.h"

#include <QTimer>

namespace sondrel::core {

FolderNotifications::FolderNotifications(QString programFolder, NotificationQueue& queue)
    : m_programFolder(std::move(programFolder))
    , m_queue(queue)
{
}

void FolderNotifications::send(const QString& recordNumber, const QString& subjectSuffix, const QString& lead,
                               std::function<void()> done)
{
    std::optional<Notification> notification = readNotification(m_programFolder, recordNumber);
    if (!notification) {
        // Without its settings a notification has nowhere to go.
        QTimer::singleShot(0, &m_queue, std::move(done));
        return;
    }
    if (!subjectSuffix.isEmpty())
        markAsAlert(*notification, subjectSuffix, lead);
    m_queue.send(*notification, std::move(done));
}

} // namespace sondrel::core
