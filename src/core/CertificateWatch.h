#pragma once

#include <QDateTime>
#include <QtGlobal>

#include <optional>

namespace sondrel::core {

// Decides when to warn that the site's certificate expires soon: when a certificate seen expires within the
// warning period or has expired, at most once a day. The day is measured on the monotonic clock, so a wall clock
// that is set back or forward neither repeats nor holds back a warning.
class CertificateWatch {
public:
    // A certificate expiring at `expiry` was seen at wall-clock time `now`, monotonic time `nowMs`. True when the
    // user is to be warned now. warnDays 0 or less never warns.
    bool seen(const QDateTime& expiry, const QDateTime& now, qint64 nowMs, int warnDays);

private:
    std::optional<qint64> m_warnedMs; // when the latest warning was given
};

} // namespace sondrel::core
