#include "core/NotificationGroups.h"

#include "core/NotificationQueue.h"

namespace sondrel::core {

namespace {

const QString kLineEnd = QStringLiteral("\r\n");

} // namespace

NotificationGroups::NotificationGroups(NotificationQueue& queue, QString programFolder, QObject* parent)
    : QObject(parent)
    , m_queue(queue)
    , m_programFolder(std::move(programFolder))
{
    m_window.setSingleShot(true);
    connect(&m_window, &QTimer::timeout, this, &NotificationGroups::flush);
}

// What still waits in a group stays in the outbox and is sent, one by one, at the next start.
NotificationGroups::~NotificationGroups() = default;

void NotificationGroups::send(SiteNotification site, std::function<void()> done)
{
    if (m_watchedSites <= 1 || site.programFolder != m_programFolder) {
        m_queue.send(site.notification, std::move(done));
        return;
    }
    if (m_groupSeconds == 0 && m_waiting.empty()) {
        site.notification.fields.message.subject += QStringLiteral(" - ") + site.siteAddress;
        m_queue.send(site.notification, std::move(done));
        return;
    }
    const QString parked = m_queue.park(site.notification.fields);
    m_waiting.push_back({std::move(site), parked});
    if (!m_window.isActive())
        m_window.start(m_groupSeconds * 1000);
    QTimer::singleShot(0, this, std::move(done));
}

void NotificationGroups::flush()
{
    m_window.stop();
    if (m_waiting.empty())
        return;
    std::vector<Waiting> waiting = std::exchange(m_waiting, {});
    std::vector<SiteNotification> sites;
    for (Waiting& each : waiting) {
        m_queue.unpark(each.parkedPath);
        sites.push_back(std::move(each.site));
    }
    m_queue.send(groupedNotification(sites), [] {});
}

Notification groupedNotification(const std::vector<SiteNotification>& sites)
{
    Q_ASSERT(!sites.empty());
    Notification grouped = sites.front().notification;
    if (sites.size() == 1) {
        grouped.fields.message.subject += QStringLiteral(" - ") + sites.front().siteAddress;
        return grouped;
    }
    QStringList addresses;
    for (const SiteNotification& site : sites) {
        if (!addresses.contains(site.siteAddress))
            addresses.append(site.siteAddress);
    }
    grouped.fields.message.subject = sites.front().plainSubject + QStringLiteral(" - ") + addresses.join(u", ");
    QString text = QStringLiteral("%1 changes of %2 sites:").arg(sites.size()).arg(addresses.size()) + kLineEnd;
    for (const SiteNotification& site : sites)
        text += site.siteAddress + QStringLiteral(": ") + site.summary + kLineEnd;
    for (const SiteNotification& site : sites) {
        text += kLineEnd + QStringLiteral("--- ") + site.siteAddress + QStringLiteral(" ---") + kLineEnd;
        text += site.notification.fields.message.text;
        if (!text.endsWith(kLineEnd))
            text += kLineEnd;
    }
    grouped.fields.message.text = text;
    for (const SiteNotification& site : sites)
        grouped.lingerSeconds = qMax(grouped.lingerSeconds, site.notification.lingerSeconds);
    return grouped;
}

} // namespace sondrel::core
