#include "core/LatencyHistory.h"

#include <QtTest>

#include <limits>

using sondrel::core::LatencyHistory;

class TestLatencyHistory : public QObject {
    Q_OBJECT
private slots:
    void longRun_staysBoundedAndKeepsExtremesAndFailures_data()
    {
        QTest::addColumn<int>("maxBuckets");
        QTest::addColumn<int>("checks");
        QTest::addColumn<qint64>("stepMs");   // time between checks; with 0, 1 ms passes every 7 checks
        QTest::addColumn<int>("failEvery");   // every failEvery-th check fails
        QTest::addColumn<bool>("clockSteps"); // the wall clock steps back 5 s every 97 checks
        QTest::newRow("interval 0, a million checks") << 2048 << 1000000 << qint64(0) << 997 << false;
        QTest::newRow("every 300 s, a million checks") << 2048 << 1000000 << qint64(300000) << 10007 << false;
        QTest::newRow("clock stepping back, few buckets") << 16 << 100000 << qint64(1000) << 13 << true;
        QTest::newRow("short run, one bucket per check") << 2048 << 1500 << qint64(1000) << 100 << false;
    }
    void longRun_staysBoundedAndKeepsExtremesAndFailures()
    {
        QFETCH(int, maxBuckets);
        QFETCH(int, checks);
        QFETCH(qint64, stepMs);
        QFETCH(int, failEvery);
        QFETCH(bool, clockSteps);
        LatencyHistory history(maxBuckets);
        // A stale run first: a new run must forget it.
        history.add(0, 100000, 100000);
        history.clear();

        quint32 random = 12345;
        qint64 at = 1720778400000; // 2024-07-12 10:00 UTC
        qint64 trueMin = std::numeric_limits<qint64>::max();
        qint64 trueMax = -1;
        qint64 failures = 0;
        qint64 average = 0;
        for (int i = 1; i <= checks; ++i) {
            random = random * 1664525u + 1013904223u;
            // Mostly 0 or 1 ms as on loopback, now and then up to a second.
            const qint64 trip = (random >> 8) % 1000 == 0 ? qint64((random >> 12) % 1000) : qint64((random >> 20) % 2);
            const bool failed = i % failEvery == 0;
            at += stepMs + (stepMs == 0 && i % 7 == 0 ? 1 : 0);
            if (clockSteps && i % 97 == 0)
                at -= 5000;
            if (failed) {
                ++failures;
            } else {
                trueMin = std::min(trueMin, trip);
                trueMax = std::max(trueMax, trip);
                average = trip * 3;
            }
            history.add(at, failed ? std::nullopt : std::optional<qint64>(trip), average);
        }

        const std::vector<LatencyHistory::Bucket>& buckets = history.buckets();
        QVERIFY(int(buckets.size()) <= maxBuckets);
        if (checks <= maxBuckets)
            QCOMPARE(int(buckets.size()), checks);
        else // merging at most halves the buckets, so the chart keeps at least half its detail
            QVERIFY(int(buckets.size()) >= maxBuckets / 2);
        qint64 min = std::numeric_limits<qint64>::max();
        qint64 max = -1;
        qint64 answered = 0;
        qint64 failed = 0;
        for (std::size_t i = 0; i < buckets.size(); ++i) {
            const LatencyHistory::Bucket& bucket = buckets[i];
            if (bucket.answered > 0) {
                QVERIFY(bucket.minMs <= bucket.maxMs);
                min = std::min(min, bucket.minMs);
                max = std::max(max, bucket.maxMs);
            }
            answered += bucket.answered;
            failed += bucket.failures;
            if (i > 0) {
                QVERIFY(buckets[i - 1].atMs < bucket.atMs);
                QVERIFY(buckets[i - 1].slice < bucket.slice);
            }
        }
        QCOMPARE(min, trueMin);
        QCOMPARE(max, trueMax);
        QCOMPARE(failed, failures);
        QCOMPARE(answered, qint64(checks) - failures);
        QCOMPARE(history.failures(), failures);
        QCOMPARE(history.average(), std::optional<qint64>(average));
        QVERIFY(history.lastMs() >= buckets.back().atMs);

        qint64 marked = 0;
        for (const LatencyHistory::FailureMark& mark : history.failureMarks())
            marked += mark.count;
        QCOMPARE(marked, failures);
        const std::vector<LatencyHistory::Point> points = history.points();
        QVERIFY(!points.empty() && points.size() <= buckets.size());
        QCOMPARE(points.front().atMs, buckets.front().atMs);
    }

    void failuresOnly_haveMarksButNoPointsAndNoAverage()
    {
        LatencyHistory history;
        history.add(1000, std::nullopt, 0);
        history.add(2000, std::nullopt, 0);
        QVERIFY(history.points().empty());
        QCOMPARE(history.failureMarks().size(), std::size_t(2));
        QCOMPARE(history.average(), std::nullopt);
        history.add(3000, 5, 5);
        QCOMPARE(history.average(), std::optional<qint64>(5));
    }
};

QTEST_APPLESS_MAIN(TestLatencyHistory)
#include "tst_latencyhistory.moc"
