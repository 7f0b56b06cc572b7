#pragma once

#include <QByteArray>
#include <QString>

namespace sondrel::store {

// Removes leading and trailing blanks (spaces only; tabs and line breaks stay).
QString trimSpaces(QStringView text);

// A text field of a fixed-length record: the bytes up to the first zero byte, read as a stored text
// (StoredText.h), with surrounding spaces removed.
QString readFixedText(QByteArrayView record, qsizetype offset, qsizetype width);

// Writes text into a fixed-length field as a stored text (StoredText.h): left-aligned, cut to width bytes at
// a character boundary, padded with spaces. A text ends at its first NUL character, where reading stops.
void writeFixedText(QByteArray& record, qsizetype offset, qsizetype width, QStringView text);

// 16-bit signed little-endian whole numbers.
qint16 readInt16(QByteArrayView record, qsizetype offset);
void writeInt16(QByteArray& record, qsizetype offset, qint16 value);

// Booleans as stored: -1 is true, 0 is false; only exactly -1 reads as true.
inline constexpr qint16 kTrue = -1;
inline constexpr qint16 kFalse = 0;
inline bool isTrue(qint16 stored)
{
    return stored == kTrue;
}
inline qint16 storedBool(bool value)
{
    return value ? kTrue : kFalse;
}

} // namespace sondrel::store
