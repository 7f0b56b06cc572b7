#include "core/SlownessWatch.h"

#include <QStringList>

#include <algorithm>

namespace sondrel::core {

namespace {

// "trip time 850 ms and page fetch 2300 ms over 500 ms in 3 checks in a row": the measurements named are those on
// the side of the limit that the change is about.
QString describe(const SlownessWatch::Check& check, bool slow, int limitMs, int inARow)
{
    QStringList measured;
    auto name = [&](const char* what, const std::optional<qint64>& ms) {
        if (ms && (*ms > limitMs) == slow)
            measured.append(QStringLiteral("%1 %2 ms").arg(QLatin1StringView(what)).arg(*ms));
    };
    name("trip time", check.tripMs);
    name("page fetch", check.pageFetchMs);
    QString detail = measured.join(QStringLiteral(" and ")) +
                     (slow ? QStringLiteral(" over %1 ms") : QStringLiteral(" within %1 ms")).arg(limitMs);
    if (inARow > 1)
        detail += QStringLiteral(" in %1 checks in a row").arg(inARow);
    return detail;
}

} // namespace

std::optional<SlownessWatch::Change> SlownessWatch::add(const Check& check, int limitMs, int inARow)
{
    if (limitMs <= 0) {
        *this = {};
        return std::nullopt;
    }
    inARow = std::max(inARow, 1);
    auto over = [limitMs](const std::optional<qint64>& ms) { return ms && *ms > limitMs; };
    const bool slow = over(check.tripMs) || over(check.pageFetchMs);
    const bool fast = !slow && check.tripMs && (!check.pageChecked || check.pageFetchMs);
    if (!slow && !fast)
        return std::nullopt;
    if (slow != m_slow) {
        if (++m_run < inARow)
            return std::nullopt;
        m_slow = slow;
        m_run = 0;
        return Change{slow, describe(check, slow, limitMs, inARow)};
    }
    m_run = 0;
    return std::nullopt;
}

} // namespace sondrel::core
