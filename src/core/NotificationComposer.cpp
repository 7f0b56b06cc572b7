#include "core/NotificationComposer.h"

#include "mail/NotificationMessage.h"
#include "mail/TrustedCertificates.h"
#include "store/LogFiles.h"

#include <algorithm>

namespace sondrel::core {

Notification composeNotification(const mail::EmailSettings& settings, const mail::MailSecurity& security,
                                 const QStringList& attachedLines)
{
    Notification notification;
    mail::SmtpFields& fields = notification.fields;
    fields.host = settings.SmtpHost;
    fields.message.senderName = settings.SenderName.isEmpty() ? QStringLiteral("Ravelin") : settings.SenderName;
    fields.message.senderAddress = settings.SenderAddress;
    fields.message.recipientName = settings.RecipientName;
    fields.message.recipientAddress = settings.RecipientAddress;
    fields.message.subject = settings.Subject.isEmpty() ? QStringLiteral("Ravelin Notification") : settings.Subject;
    fields.message.text =
        settings.AttachLog != 0 ? mail::notificationText(settings.MessageBody, attachedLines) : settings.MessageBody;
    notification.lingerSeconds = std::max(0, int(settings.DisconnectDelay));
    fields.security = security.security;
    fields.user = security.user;
    fields.login = security.login;
    return notification;
}

void markAsAlert(Notification& notification, const QString& subjectSuffix, const QString& lead)
{
    notification.fields.message.subject += QStringLiteral(" - ") + subjectSuffix;
    notification.fields.message.text.prepend(lead);
}

std::optional<Notification> readNotification(const QString& programFolder, const QString& recordNumber,
                                             const QString& recordFile)
{
    const std::optional<mail::EmailSettings> settings = mail::EmailSettingsFile(programFolder).load();
    if (!settings)
        return std::nullopt;
    const QStringList lines =
        settings->AttachLog != 0
            ? store::readRecordFileLines(recordFile.isEmpty() ? store::LogPaths::ofProgram(programFolder).recordFile
                                                              : recordFile,
                                         mail::attachedRecordCount(recordNumber))
            : QStringList();
    const mail::MailSecurity security = mail::MailSecurityFile(programFolder).load().value_or(mail::MailSecurity{});
    Notification notification = composeNotification(*settings, security, lines);
    const mail::SmtpEndpoint endpoint = mail::parseSmtpHost(notification.fields.host);
    const quint16 port = endpoint.portText.isEmpty() ? mail::defaultPort(notification.fields.security) : endpoint.port;
    notification.fields.trustedCertificate =
        mail::TrustedCertificates(programFolder).certificateFor(endpoint.host, port);
    return notification;
}

} // namespace sondrel::core
