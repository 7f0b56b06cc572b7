#pragma once

#include "mail/SmtpSession.h"

#include <QString>

namespace sondrel::core {

// What becomes of a notification after one delivery attempt.
enum class DeliveryVerdict {
    Sent,     // the server took the message for at least one recipient
    TryAgain, // the failure may pass by itself: a refused or reset connection, silence, no Internet connection, a 4xx
    GiveUp,   // retrying cannot help: a 5xx, a rejected certificate, a bad port, a login the server cannot do
};

DeliveryVerdict deliveryVerdict(const mail::SmtpSession::Result& result);

// The failure as one line for the status ("421 Service not available", "Connection refused").
QString deliveryErrorText(const mail::SmtpSession::Result& result);

// Minutes to wait after the n-th failed attempt (n from 1): 1, 2, 4, 8, 16, then 30 for every further one.
int retryDelayMinutes(int failedAttempts);

// A notification is tried again for this long after its first attempt, then dropped.
inline constexpr qint64 kRetryWindowSeconds = 24 * 60 * 60;

// No notification is tried more often than this: the retry window is over long before. A count read from a file
// is bounded by it, so that no delay is ever computed from a count that has wrapped round.
inline constexpr int kMaxDeliveryAttempts = 64;

// "2 notifications waiting to be sent; last error: 421 Service not available", or, with nothing waiting,
// "No notifications waiting to be sent."
QString outboxStatusText(int waiting, const QString& lastError);

} // namespace sondrel::core
