#include "core/DeliveryRetry.h"

#include <QRegularExpression>

namespace sondrel::core {

using Outcome = mail::SmtpSession::Outcome;

DeliveryVerdict deliveryVerdict(const mail::SmtpSession::Result& result)
{
    switch (result.outcome) {
    case Outcome::Sent:
    case Outcome::ClosedAfterQuit:
        return DeliveryVerdict::Sent;
    case Outcome::NoConnection:
        return DeliveryVerdict::TryAgain;
    case Outcome::NoAccessToken:
        // Kept until the user signs in again, or the token endpoint answers again.
        return DeliveryVerdict::TryAgain;
    case Outcome::SocketError:
        // A port that is not a number stays wrong until the user corrects it.
        return result.errorNumber == mail::SmtpSession::kBadPortError ? DeliveryVerdict::GiveUp
                                                                      : DeliveryVerdict::TryAgain;
    case Outcome::CertificateRejected:
        return DeliveryVerdict::GiveUp;
    case Outcome::ServerError:
        break;
    }
    // Only a reply whose code says "transient" (4xx) is worth repeating; the session's own texts (no STARTTLS,
    // no usable login, a reply too long) describe a server that will answer the same way next time.
    static const QRegularExpression transient(QStringLiteral("^4[0-9][0-9](?:[ -]|$)"));
    return transient.match(result.text).hasMatch() ? DeliveryVerdict::TryAgain : DeliveryVerdict::GiveUp;
}

QString deliveryErrorText(const mail::SmtpSession::Result& result)
{
    if (result.outcome == Outcome::NoConnection)
        return QStringLiteral("No Internet connection");
    const QString text = result.text.simplified();
    if (!text.isEmpty())
        return text;
    return result.errorNumber != 0 ? QStringLiteral("Error %1").arg(result.errorNumber)
                                   : QStringLiteral("The server ended the exchange");
}

int retryDelayMinutes(int failedAttempts)
{
    if (failedAttempts < 1)
        return 0;
    if (failedAttempts > 5)
        return 30;
    return 1 << (failedAttempts - 1);
}

QString outboxStatusText(int waiting, const QString& lastError)
{
    if (waiting <= 0)
        return QStringLiteral("No notifications waiting to be sent.");
    QString text = waiting == 1 ? QStringLiteral("1 notification waiting to be sent")
                                : QStringLiteral("%1 notifications waiting to be sent").arg(waiting);
    if (!lastError.isEmpty())
        text += QStringLiteral("; last error: ") + lastError;
    return text;
}

} // namespace sondrel::core
