#include "core/LatencyHistory.h"

#include <algorithm>

namespace sondrel::core {

LatencyHistory::LatencyHistory(int maxBuckets)
    : m_maxBuckets(std::size_t(std::max(maxBuckets, 2)))
{
    m_buckets.reserve(m_maxBuckets);
}

void LatencyHistory::clear()
{
    m_buckets.clear();
    m_originMs = 0;
    m_lastMs = 0;
    m_sliceMs = 1;
    m_answered = 0;
    m_failures = 0;
    m_average = 0;
    ++m_revision;
}

void LatencyHistory::add(qint64 atMs, std::optional<qint64> tripMs, qint64 averageMs)
{
    if (m_buckets.empty()) {
        m_originMs = atMs;
        m_lastMs = atMs;
    }
    atMs = std::max(atMs, m_lastMs);
    m_lastMs = atMs;
    // Unsigned, so that no pair of clock readings can overflow the difference.
    const quint64 sinceOrigin = quint64(atMs) - quint64(m_originMs);
    quint64 slice = sinceOrigin / m_sliceMs;
    // With a slice of 2^63 ms every time falls in slice 0 or 1, so coarsening stops before the width overflows.
    while (m_buckets.size() >= m_maxBuckets && m_buckets.back().slice != slice) {
        coarsen();
        slice = sinceOrigin / m_sliceMs;
    }
    if (m_buckets.empty() || m_buckets.back().slice != slice) {
        Bucket fresh;
        fresh.atMs = atMs;
        fresh.slice = slice;
        m_buckets.push_back(fresh);
    }
    Bucket& bucket = m_buckets.back();
    if (tripMs) {
        bucket.minMs = bucket.answered == 0 ? *tripMs : std::min(bucket.minMs, *tripMs);
        bucket.maxMs = bucket.answered == 0 ? *tripMs : std::max(bucket.maxMs, *tripMs);
        ++bucket.answered;
        ++m_answered;
    } else {
        ++bucket.failures;
        ++m_failures;
    }
    m_average = averageMs;
    ++m_revision;
}

void LatencyHistory::coarsen()
{
    m_sliceMs *= 2;
    std::size_t kept = 0;
    for (std::size_t i = 0; i < m_buckets.size(); ++i) {
        Bucket bucket = m_buckets[i];
        bucket.slice /= 2;
        if (kept > 0 && m_buckets[kept - 1].slice == bucket.slice) {
            Bucket& into = m_buckets[kept - 1];
            if (bucket.answered > 0) {
                into.minMs = into.answered == 0 ? bucket.minMs : std::min(into.minMs, bucket.minMs);
                into.maxMs = into.answered == 0 ? bucket.maxMs : std::max(into.maxMs, bucket.maxMs);
            }
            into.answered += bucket.answered;
            into.failures += bucket.failures;
        } else {
            m_buckets[kept++] = bucket;
        }
    }
    m_buckets.resize(kept);
}

std::vector<LatencyHistory::Point> LatencyHistory::points() const
{
    std::vector<Point> points;
    points.reserve(m_buckets.size());
    for (const Bucket& bucket : m_buckets) {
        if (bucket.answered > 0)
            points.push_back({bucket.atMs, bucket.minMs, bucket.maxMs});
    }
    return points;
}

std::vector<LatencyHistory::FailureMark> LatencyHistory::failureMarks() const
{
    std::vector<FailureMark> marks;
    for (const Bucket& bucket : m_buckets) {
        if (bucket.failures > 0)
            marks.push_back({bucket.atMs, bucket.failures});
    }
    return marks;
}

std::optional<qint64> LatencyHistory::average() const
{
    if (m_answered == 0)
        return std::nullopt;
    return m_average;
}

} // namespace sondrel::core
