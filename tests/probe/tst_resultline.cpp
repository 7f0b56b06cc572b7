#include "probe/ResultLine.h"

#include <QTest>

using namespace sondrel::probe;

class TestResultLine : public QObject {
    Q_OBJECT
private slots:
    void recordNumber_hasSixDigitsThenOneMore_data()
    {
        QTest::addColumn<QString>("pings");
        QTest::addColumn<QString>("expected");
        QTest::newRow("1") << "1"
                           << "000001";
        QTest::newRow("9") << "9"
                           << "000009";
        QTest::newRow("10") << "10"
                            << "000010";
        QTest::newRow("123") << "123"
                             << "000123";
        QTest::newRow("1000") << "1000"
                              << "001000";
        QTest::newRow("99999") << "99999"
                               << "099999";
        QTest::newRow("100000") << "100000"
                                << "0100000";
        QTest::newRow("blanks around") << " 42 "
                                       << "000042";
        QTest::newRow("empty") << ""
                               << "00000";
    }
    void recordNumber_hasSixDigitsThenOneMore()
    {
        QFETCH(QString, pings);
        QFETCH(QString, expected);
        QCOMPARE(recordNumberFor(pings), expected);
    }

    void average_isTheTrueMeanOfEveryReply()
    {
        QCOMPARE(averageTripTime(31, 2), 15);
        QCOMPARE(averageTripTime(0, 0), 0);
        QCOMPARE(averageTripTime(5 * 32767 + 32766, 32767), 5);
        QCOMPARE(averageTripTime(40000 * 10, 40000), 10); // past the 16-bit range of earlier counters
        QCOMPARE(averageTripTime(qint64(3'000'000'000) * 1000, 3'000'000'000), 1000);
    }

    void lines_joinTheirPiecesWithNothingBetween()
    {
        QCOMPARE(replyLine("000012", "12/7/2026", "3:04:05 AM", "23 ms", 25, " WSOK"),
                 QStringLiteral("000012 12/7/2026 3:04:05 AM Trip Time=23 ms Average=25 WSOK"));
        QCOMPARE(failureLine("000003", "d", "t", "     "),
                 QStringLiteral("000003 d t Failed to ping! - Site Problem     "));
    }
};

QTEST_APPLESS_MAIN(TestResultLine)
#include "tst_resultline.moc"
