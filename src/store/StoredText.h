#pragma once

#include <QByteArray>
#include <QString>

namespace sondrel::store {

// How every text is kept in the program's files (init.dat, email.dat, the numbered logs and tmp.log).
// Windows-1252 when it holds the stored part of the text exactly, so files read and write as earlier
// versions wrote them, byte for byte; UTF-8 otherwise, so text in any script keeps what the user typed.
// Either way at most maxBytes bytes, cut at a character boundary.
QByteArray encodeStoredText(QStringView text, qsizetype maxBytes);

// Bytes that are valid UTF-8 and contain a byte above 127 read as UTF-8; anything else as Windows-1252,
// which is how every earlier file reads.
QString decodeStoredText(QByteArrayView bytes);

} // namespace sondrel::store
