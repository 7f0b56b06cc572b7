#pragma once

#include <QString>

#include <functional>

namespace sondrel::core {

class NotificationQueue;

// Where a run's alert logic sends what it decided.
class NotificationSink {
public:
    virtual ~NotificationSink() = default;
    // The notification for the check numbered recordNumber. With a subjectSuffix it is an alert of its own kind:
    // the suffix is added to its subject and lead put before its text. done runs from the event loop once the run
    // may go on.
    virtual void send(const QString& recordNumber, const QString& subjectSuffix, const QString& lead,
                      std::function<void()> done) = 0;
};

// A run's notifications: composed from the e-mail settings and the logs in the run's folder, and sent through the
// queue that every run shares.
class FolderNotifications final : public NotificationSink {
public:
    FolderNotifications(QString programFolder, NotificationQueue& queue);
    void send(const QString& recordNumber, const QString& subjectSuffix, const QString& lead,
              std::function<void()> done) override;

private:
    QString m_programFolder;
    NotificationQueue& m_queue;
};

} // namespace sondrel::core
