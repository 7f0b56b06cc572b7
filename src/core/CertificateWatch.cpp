#include "core/CertificateWatch.h"

namespace sondrel::core {

namespace {

constexpr qint64 kDayMs = 24LL * 60 * 60 * 1000;

} // namespace

bool CertificateWatch::seen(const QDateTime& expiry, const QDateTime& now, qint64 nowMs, int warnDays)
{
    if (warnDays <= 0 || !expiry.isValid() || !now.isValid())
        return false;
    if (expiry > now.toUTC().addDays(warnDays))
        return false;
    if (m_warnedMs && nowMs - *m_warnedMs < kDayMs)
        return false;
    m_warnedMs = nowMs;
    return true;
}

} // namespace sondrel::core
