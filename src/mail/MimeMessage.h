#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

namespace sondrel::mail {

// The pieces of a MIME message that are not plain ASCII text: header texts as encoded words, header lines folded
// to a readable width, and the body's transfer encodings. Bodies here have CR LF line breaks only.

// Lines of a header that holds encoded words, and lines of a quoted-printable body, are at most this long.
inline constexpr qsizetype kMimeLineWidth = 76;
inline constexpr qsizetype kMaxEncodedWord = 75;
// The longest line, without its CR LF, that 8bit content may have.
inline constexpr qsizetype kMaxEightBitLine = 998;

// The text as "=?UTF-8?B?...?=" words, each holding whole characters, none longer than kMaxEncodedWord
// characters, and the first no longer than firstWidth (20 or more, room for one character) so that it fits
// after its header's name. Nothing for an empty text.
QList<QByteArray> encodedWords(QStringView text, qsizetype firstWidth);

// One header line with its CR LF: the name with its colon, the first piece right after the colon, and each
// later piece after a blank, or after a line break and a blank when the line would grow past kMimeLineWidth.
// A piece is never cut, so a line longer than that holds a single piece.
QByteArray foldedHeader(QByteArrayView nameWithColon, const QList<QByteArray>& pieces);

// The body as quoted-printable: "=", bytes outside 33 to 126 and blanks before a line break as "=XX", lines
// longer than kMimeLineWidth split with soft breaks ("=" and CR LF); every CR LF of the body stays a line break.
QByteArray quotedPrintable(QByteArrayView body);

// Whether the body may travel as 8bit: no NUL byte and no line longer than kMaxEightBitLine bytes.
bool fitsEightBit(QByteArrayView body);

} // namespace sondrel::mail
