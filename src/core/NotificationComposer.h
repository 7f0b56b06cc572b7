#pragma once

#include "mail/EmailSettings.h"
#include "mail/MailSecurity.h"
#include "mail/SmtpSession.h"

#include <QStringList>

#include <optional>

namespace sondrel::core {

// What one notification sends.
struct Notification {
    mail::SmtpFields fields;
    double lingerSeconds = 0; // the disconnect delay, never below 0
};

// The notification the stored e-mail settings describe: a missing sender name or subject gets its default, and
// with "Attach Log" on, the text carries attachedLines (the run's lines 1 to the check's number). The password is
// not part of it: it is fetched when the notification is sent.
Notification composeNotification(const mail::EmailSettings& settings, const mail::MailSecurity& security,
                                 const QStringList& attachedLines);

// An alert of its own kind: " - " + subjectSuffix added to the subject, and lead put before the text.
void markAsAlert(Notification& notification, const QString& subjectSuffix, const QString& lead);

// The notification for the check numbered recordNumber, from the files of programFolder: data/email.dat, the
// connection security and login name, the certificate the user trusts for the server, and the run's lines when
// they are attached, from recordFile (logs/tmp.log of the folder when empty). Nothing when the e-mail settings
// cannot be read.
std::optional<Notification> readNotification(const QString& programFolder, const QString& recordNumber,
                                             const QString& recordFile = {});

} // namespace sondrel::core
