// data/log.dat and the records of logs/tmp.log as any bytes, and any result line written to both logs: the counter
// names a fresh six-digit log, a record read and written again keeps its text and bytes, and a line reads back as
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
    if (const auto next = nextLogCounter(stored)) {
        SONDREL_FUZZ_CHECK(*next == (stored == 0 ? 1 : stored + 1) && *next >= 1 && *next <= kLastLogNumber);
        const QString name = numberedLogName(*next);
        SONDREL_FUZZ_CHECK(name.size() == 10 && name.endsWith(QLatin1String(".log")) && name.first(6).toInt() == *next);
        writeInt16(counterRecord, 0, *next);
        SONDREL_FUZZ_CHECK(readInt16(counterRecord, 0) == *next);
    } else {
        SONDREL_FUZZ_CHECK(stored < 0 || stored == kLastLogNumber);
    }

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
