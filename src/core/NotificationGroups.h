#pragma once

#include "core/NotificationComposer.h"
#include "mail/MailSecurity.h"

#include <QObject>
#include <QTimer>

#include <functional>
#include <vector>

namespace sondrel::core {

class NotificationQueue;

// One site's notification, as its run composed it.
struct SiteNotification {
    QString programFolder; // whose e-mail settings composed it
    QString siteAddress;   // the web address that names the site
    QString plainSubject;  // the subject before an alert's suffix
    QString summary;       // what changed, in a few words
    Notification notification;
};

// The notifications of the sites watched together, on their way to the queue. While one site is watched each
// goes out exactly as it was composed. While more are watched its subject ends with " - " and its site's address,
// and the changes of several sites within the grouping window go out as one e-mail that lists each change and
// carries each site's text in turn. A notification waiting in a group is kept in the outbox meanwhile, so that
// it is not lost when the program ends first. Only the runs of one program folder, which share its e-mail
// settings, are counted and grouped; a notification composed from another folder's settings goes out as it is.
class NotificationGroups final : public QObject {
    Q_OBJECT
public:
    static constexpr int kDefaultGroupSeconds = mail::kDefaultGroupSeconds;

    NotificationGroups(NotificationQueue& queue, QString programFolder, QObject* parent = nullptr);
    ~NotificationGroups() override;

    NotificationQueue& queue() { return m_queue; }
    // 0 sends each notification as it comes.
    void setGroupSeconds(int seconds) { m_groupSeconds = qMax(0, seconds); }
    int groupSeconds() const { return m_groupSeconds; }
    const QString& programFolder() const { return m_programFolder; }
    // How many sites of the program folder are watched now; the hub keeps it current.
    void setWatchedSites(int count) { m_watchedSites = count; }

    // done runs from the event loop once the run may go on: at once when the notification waits in a group.
    void send(SiteNotification site, std::function<void()> done);
    // Sends the group that is waiting now, without waiting for its window to end.
    void flush();

private:
    struct Waiting {
        SiteNotification site;
        QString parkedPath;
    };

    NotificationQueue& m_queue;
    QString m_programFolder;
    int m_groupSeconds = kDefaultGroupSeconds;
    int m_watchedSites = 0;
    std::vector<Waiting> m_waiting;
    QTimer m_window;
};

// The one e-mail for the notifications of a group, in the order they came: the first one's subject before its
// suffix, then " - " and the sites' addresses; a list of the changes, then each site's text under its address.
Notification groupedNotification(const std::vector<SiteNotification>& sites);

} // namespace sondrel::core
