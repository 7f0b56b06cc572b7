#include "core/NotificationSink.h"

#include "core/NotificationGroups.h"

#include <QTimer>

namespace sondrel::core {

FolderNotifications::FolderNotifications(QString programFolder, QString recordFile, NotificationGroups& groups,
                                         std::function<QString()> siteAddress)
    : m_programFolder(std::move(programFolder))
    , m_recordFile(std::move(recordFile))
    , m_groups(groups)
    , m_siteAddress(std::move(siteAddress))
{
}

void FolderNotifications::send(const QString& recordNumber, const QString& subjectSuffix, const QString& lead,
                               const QString& summary, std::function<void()> done)
{
    std::optional<Notification> notification = readNotification(m_programFolder, recordNumber, m_recordFile);
    if (!notification) {
        // Without its settings a notification has nowhere to go.
        QTimer::singleShot(0, &m_groups, std::move(done));
        return;
    }
    SiteNotification site{m_programFolder, m_siteAddress(), notification->fields.message.subject, summary,
                          *notification};
    if (!subjectSuffix.isEmpty())
        markAsAlert(site.notification, subjectSuffix, lead);
    m_groups.send(std::move(site), std::move(done));
}

} // namespace sondrel::core
