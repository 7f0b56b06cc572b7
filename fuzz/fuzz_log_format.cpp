// data/log.dat and the records of logs/tmp.log as any bytes, and any result line written to both logs: the counter
// names the next free six-digit log, a record read and written again keeps its text and bytes, and a line reads back as
// written, up to the record's width.
#include "FuzzInput.h"

#include "store/FixedText.h"
#include "store/LogFormat.h"
#include "store/StoredText.h"

using namespace sondrel::store;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    sondrel::fuzz::FuzzInput input(data, size);
    QByteArray counterRecord = input.take(kLogCounterLength).toByteArray();
    counterRecord.append(QByteArray(kLogCounterLength - counterRecord.size(), '\0'));
    const qint16 stored = readInt16(counterRecord, 0);
    // With no log kept the next number follows the counter, going on from 32767 at 1; the next taken numbers
    // are passed over; with every number taken there is none.
    const auto next = nextLogCounter(stored, [](qint16) { return false; });
    SONDREL_FUZZ_CHECK(next && *next == (stored >= 1 && stored < kLastLogNumber ? stored + 1 : 1));
    const int taken = input.byte();
    const auto after = nextLogCounter(
        stored, [&](qint16 number) { return (number - *next + kLastLogNumber) % kLastLogNumber < taken; });
    SONDREL_FUZZ_CHECK(after && *after == (*next - 1 + taken) % kLastLogNumber + 1);
    if (taken == 0xff) // a whole round of the numbers: not for every input
        SONDREL_FUZZ_CHECK(!nextLogCounter(stored, [](qint16) { return true; }));
    const QString name = numberedLogName(*after);
    SONDREL_FUZZ_CHECK(name.size() == 10 && name.endsWith(QLatin1String(".log")) && name.first(6).toInt() == *after);
    writeInt16(counterRecord, 0, *after);
    SONDREL_FUZZ_CHECK(readInt16(counterRecord, 0) == *after);

    const QString line = decodeLogRecord(input.take(input.byte() % 2 ? kLogRecordLength : input.byte()));
    const QByteArray record = encodeLogRecord(line);
    SONDREL_FUZZ_CHECK(record.size() == kLogRecordLength && decodeLogRecord(record) == line);
    SONDREL_FUZZ_CHECK(encodeLogRecord(decodeLogRecord(record)) == record);

    const QString typed = QString::fromUtf8(input.rest());
    const QByteArray logLine = encodeLogLine(typed);
    SONDREL_FUZZ_CHECK(logLine.startsWith('"') && logLine.endsWith("\"\r\n"));
    SONDREL_FUZZ_CHECK(decodeStoredText(QByteArrayView(logLine).sliced(1).chopped(3)) == typed);
    const QString trimmed = trimSpaces(typed);
    const QString kept = decodeLogRecord(encodeLogRecord(typed));
    SONDREL_FUZZ_CHECK(trimmed.startsWith(kept));
    if (!trimmed.contains(QChar(0)) && trimmed.toUtf8().size() <= kLogRecordLength)
        SONDREL_FUZZ_CHECK(kept == trimmed);
    SONDREL_FUZZ_CHECK(recordNumberValue(typed) >= 0);
    return 0;
}
