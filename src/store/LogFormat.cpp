#include "store/LogFormat.h"

#include "store/FixedText.h"
#include "store/StoredText.h"

#include <limits>

namespace sondrel::store {

std::optional<qint16> nextLogCounter(qint16 stored, const std::function<bool(qint16)>& taken)
{
    int candidate = stored >= 1 && stored < kLastLogNumber ? stored + 1 : 1;
    for (int tried = 0; tried < kLastLogNumber; ++tried) {
        if (!taken(static_cast<qint16>(candidate)))
            return static_cast<qint16>(candidate);
        candidate = candidate == kLastLogNumber ? 1 : candidate + 1;
    }
    return std::nullopt;
}

QString numberedLogName(qint16 counter)
{
    return QStringLiteral("%1.log").arg(int(counter), 6, 10, QLatin1Char('0'));
}

QByteArray encodeLogLine(const QString& line)
{
    return '"' + encodeStoredText(line, std::numeric_limits<qsizetype>::max()) + "\"\r\n";
}

QByteArray encodeLogRecord(const QString& line)
{
    QByteArray record(kLogRecordLength, ' ');
    writeFixedText(record, 0, kLogRecordLength, trimSpaces(line));
    return record;
}

QString decodeLogRecord(QByteArrayView record)
{
    return readFixedText(record, 0, qMin(record.size(), kLogRecordLength));
}

int recordNumberValue(QStringView recordNumber)
{
    const QString trimmed = trimSpaces(recordNumber);
    qint64 value = 0;
    for (const QChar c : trimmed) {
        if (c < u'0' || c > u'9')
            break;
        value = qMin<qint64>(value * 10 + (c.unicode() - u'0'), std::numeric_limits<int>::max());
    }
    return static_cast<int>(value);
}

} // namespace sondrel::store
