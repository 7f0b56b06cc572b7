#pragma once

#include <QString>

#include <functional>

namespace sondrel::core {

class NotificationGroups;

// Where a run's alert logic sends what it decided.
class NotificationSink {
public:
    virtual ~NotificationSink() = default;
    // The notification for the check numbered recordNumber. With a subjectSuffix it is an alert of its own kind:
    // the suffix is added to its subject and lead put before its text. summary says in a few words what changed,
    // for an e-mail that lists the changes of several sites. done runs from the event loop once the run may go on.
    virtual void send(const QString& recordNumber, const QString& subjectSuffix, const QString& lead,
                      const QString& summary, std::function<void()> done) = 0;
};

// A run's notifications: composed from the e-mail settings of the program folder and the run's record file, and
// sent through the groups every run shares, named by the site's web address.
class FolderNotifications final : public NotificationSink {
public:
    FolderNotifications(QString programFolder, QString recordFile, NotificationGroups& groups,
                        std::function<QString()> siteAddress);
    void send(const QString& recordNumber, const QString& subjectSuffix, const QString& lead, const QString& summary,
              std::function<void()> done) override;

private:
    QString m_programFolder;
    QString m_recordFile;
    NotificationGroups& m_groups;
    std::function<QString()> m_siteAddress;
};

} // namespace sondrel::core
