#include "store/FixedText.h"

#include "store/StoredText.h"

#include <QtEndian>

namespace sondrel::store {

QString trimSpaces(QStringView text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && text[begin] == u' ')
        ++begin;
    while (end > begin && text[end - 1] == u' ')
        --end;
    return text.sliced(begin, end - begin).toString();
}

QString readFixedText(QByteArrayView record, qsizetype offset, qsizetype width)
{
    QByteArrayView field = record.sliced(offset, width);
    const qsizetype zero = field.indexOf('\0');
    if (zero >= 0)
        field = field.first(zero);
    return trimSpaces(decodeStoredText(field));
}

void writeFixedText(QByteArray& record, qsizetype offset, qsizetype width, QStringView text)
{
    // A field is read up to its first zero byte, so the text ends there too: the encoding is then chosen for the
    // bytes that are read back ("ß€" before a zero is code page bytes that would read as UTF-8).
    const qsizetype zero = text.indexOf(QChar(0));
    QByteArray bytes = encodeStoredText(zero < 0 ? text : text.first(zero), width);
    bytes.append(QByteArray(width - bytes.size(), ' '));
    record.replace(offset, width, bytes);
}

qint16 readInt16(QByteArrayView record, qsizetype offset)
{
    return qFromLittleEndian<qint16>(record.data() + offset);
}

void writeInt16(QByteArray& record, qsizetype offset, qint16 value)
{
    qToLittleEndian<qint16>(value, record.data() + offset);
}

} // namespace sondrel::store
