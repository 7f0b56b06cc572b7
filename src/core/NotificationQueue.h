#pragma once

#include "core/MailDelivery.h"
#include "core/PasswordVault.h"

#include <QObject>

#include <functional>
#include <list>
#include <optional>

namespace sondrel::core {

// What one notification sends, read from data/email.dat when it is decided.
struct Notification {
    mail::SmtpFields fields;
    double lingerSeconds = 0; // the disconnect delay, never below 0
};

// The notification for the check numbered recordNumber: the stored settings (a missing sender name or subject
// gets its default), the connection security and login name, a certificate the user trusts for the server, and,
// when "Attach Log" is on, the run's lines 1 to that number. Nothing when the settings cannot be read. The
// password is not part of it: it is fetched when the notification is sent.
std::optional<Notification> composeNotification(const QString& programFolder, const QString& recordNumber);

// The run's notifications, each one sent to its own end (sent, refused, a socket error or the reply limit)
// whatever the run does meanwhile, one after the other in the order they were decided. Destroying the queue
// drops every delivery without callbacks.
class NotificationQueue final : public QObject {
    Q_OBJECT
public:
    NotificationQueue(platform::Services services, QString programFolder, QObject* parent = nullptr);
    ~NotificationQueue() override;

    void setReplyTimeout(int milliseconds) { m_replyTimeoutMs = milliseconds; }

    // Reads the settings and the run's lines now and sends once the notifications before it are over. done
    // runs from the event loop when the run may go on: after the disconnect delay when the notification
    // could start at once, straight away when it waits for its turn or cannot be sent at all.
    void notify(const QString& recordNumber, std::function<void()> done);
    // Sends a notification already composed, in turn as notify does.
    void send(const Notification& notification, std::function<void()> done);

    // No notification is under way or waiting.
    bool isIdle() const { return m_entries.empty(); }

signals:
    // A notification's exchange is over, with its outcome.
    void delivered(const sondrel::mail::SmtpSession::Result& result);

private:
    struct Entry {
        std::unique_ptr<MailDelivery> delivery;
        std::shared_ptr<mail::SmtpFields> fields;
        std::function<void()> done;
        bool started = false;
    };

    void startNext();
    void retireIfOver(MailDelivery* delivery);
    std::list<Entry>::iterator find(MailDelivery* delivery);

    platform::Services m_services;
    QString m_programFolder;
    PasswordVault m_passwords;
    std::list<Entry> m_entries;
    int m_replyTimeoutMs = mail::SmtpSession::kReplyTimeoutMs;
};

} // namespace sondrel::core
