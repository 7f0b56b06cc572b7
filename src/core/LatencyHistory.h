#pragma once

#include <QtGlobal>

#include <optional>
#include <vector>

namespace sondrel::core {

// The trip times of one run, kept for a chart in a fixed amount of memory however long the run lasts. Time is
// cut into equal slices from the run's first check; each slice that saw a check is one bucket with the
// fastest and slowest answer and the number of failed checks in it. When a new slice would exceed the bucket
// limit, neighbouring slices are merged pairwise and each covers twice the time, so a chart of about as many
// pixels as buckets always shows the whole run at the finest detail that fits.
class LatencyHistory {
public:
    static constexpr int kDefaultBuckets = 2048;

    struct Bucket {
        qint64 atMs = 0;  // time of the first check in the slice, in ms since the epoch
        qint64 minMs = 0; // fastest answer (meaningful when answered > 0)
        qint64 maxMs = 0; // slowest answer (meaningful when answered > 0)
        qint64 answered = 0;
        qint64 failures = 0;
        quint64 slice = 0; // index of the slice, counted from the first check
    };
    // Answered checks of one bucket, as a chart plots them.
    struct Point {
        qint64 atMs;
        qint64 minMs;
        qint64 maxMs;
    };
    // Failed checks of one bucket.
    struct FailureMark {
        qint64 atMs;
        qint64 count;
    };

    // maxBuckets is at least 2.
    explicit LatencyHistory(int maxBuckets = kDefaultBuckets);

    // Forgets everything: a new run begins.
    void clear();
    // One check at atMs (ms since the epoch): its trip time, none when it failed, and the run's average trip
    // time as the result lines show it. A clock that steps back files the check with the latest one, so that
    // bucket times never go backwards.
    void add(qint64 atMs, std::optional<qint64> tripMs, qint64 averageMs);

    const std::vector<Bucket>& buckets() const { return m_buckets; }
    std::vector<Point> points() const;
    std::vector<FailureMark> failureMarks() const;
    // The run's average as the latest result line showed it; none until a check was answered.
    std::optional<qint64> average() const;
    qint64 answered() const { return m_answered; }
    qint64 failures() const { return m_failures; }
    bool isEmpty() const { return m_buckets.empty(); }
    // Time of the latest check (ms since the epoch); 0 when empty.
    qint64 lastMs() const { return m_lastMs; }
    // The time each bucket covers.
    quint64 sliceMs() const { return m_sliceMs; }
    // Grows with every change, so that a view can tell whether it is out of date.
    quint64 revision() const { return m_revision; }

private:
    void coarsen();

    std::vector<Bucket> m_buckets;
    std::size_t m_maxBuckets;
    qint64 m_originMs = 0;
    qint64 m_lastMs = 0;
    quint64 m_sliceMs = 1;
    qint64 m_answered = 0;
    qint64 m_failures = 0;
    qint64 m_average = 0;
    quint64 m_revision = 0;
};

} // namespace sondrel::core
