#pragma once

#include <QByteArray>
#include <QString>

#include <functional>
#include <optional>

namespace sondrel::store {

// data/log.dat: one 2-byte record, the number of the last numbered log created.
inline constexpr qsizetype kLogCounterLength = 2;
// logs/tmp.log: one 200-byte record per check of the current run.
inline constexpr qsizetype kLogRecordLength = 200;
// The highest number a numbered log can carry.
inline constexpr qint16 kLastLogNumber = 32767;

// The number of the next numbered log: the first one after the stored counter, counting up and going on from
// 32767 at 1, that taken does not hold, so that no earlier log is emptied and the 16-bit counter never stops
// logging. A counter outside 1 to 32767 (0 from a new file, a negative one from a damaged file) counts from 1.
// None only when taken holds every number from 1 to 32767.
std::optional<qint16> nextLogCounter(qint16 stored, const std::function<bool(qint16)>& taken);

// "000001.log" for 1 ... "032767.log" for 32767: the number padded with zeros to six digits.
QString numberedLogName(qint16 counter);

// One line of a numbered log: the text in double quotes, as given (nothing trimmed or escaped) and encoded
// as a stored text (StoredText.h), then CR LF. Each line picks its own encoding.
QByteArray encodeLogLine(const QString& line);

// A record of logs/tmp.log: the line trimmed of surrounding spaces, then a 200-byte fixed text field
// (FixedText.h): left-aligned, cut at a character boundary, space-padded.
QByteArray encodeLogRecord(const QString& line);
QString decodeLogRecord(QByteArrayView record);

// The check number held in a RecordNumber text: surrounding spaces removed, then its leading decimal
// digits (0 when there are none). Values too large for an int read as INT_MAX.
int recordNumberValue(QStringView recordNumber);

} // namespace sondrel::store
