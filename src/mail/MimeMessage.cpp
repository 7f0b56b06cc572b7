#include "mail/MimeMessage.h"

namespace sondrel::mail {

namespace {

constexpr QByteArrayView kWordStart = "=?UTF-8?B?";
constexpr QByteArrayView kWordEnd = "?=";

// The UTF-8 bytes a word of the given width holds: base64 spends four characters on every three bytes.
qsizetype bytesInWord(qsizetype width)
{
    return (width - kWordStart.size() - kWordEnd.size()) / 4 * 3;
}

QByteArray encodedWord(const QByteArray& utf8)
{
    return kWordStart.toByteArray() + utf8.toBase64() + kWordEnd.toByteArray();
}

} // namespace

QList<QByteArray> encodedWords(QStringView text, qsizetype firstWidth)
{
    QList<QByteArray> words;
    QByteArray pending;
    qsizetype room = bytesInWord(firstWidth);
    for (qsizetype i = 0; i < text.size();) {
        // A character outside the Basic Multilingual Plane is two UTF-16 units; no word ends between them.
        const qsizetype units =
            text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate() ? 2 : 1;
        const QByteArray character = text.sliced(i, units).toUtf8();
        i += units;
        if (!pending.isEmpty() && pending.size() + character.size() > room) {
            words.append(encodedWord(pending));
            pending.clear();
            room = bytesInWord(kMaxEncodedWord);
        }
        pending += character;
    }
    if (!pending.isEmpty())
        words.append(encodedWord(pending));
    return words;
}

QByteArray foldedHeader(QByteArrayView nameWithColon, const QList<QByteArray>& pieces)
{
    QByteArray line = nameWithColon.toByteArray();
    qsizetype lineStart = 0;
    for (qsizetype i = 0; i < pieces.size(); ++i) {
        if (i > 0) {
            if (line.size() - lineStart + 1 + pieces[i].size() <= kMimeLineWidth) {
                line += ' ';
            } else {
                line += "\r\n ";
                lineStart = line.size() - 1;
            }
        }
        line += pieces[i];
    }
    return line + "\r\n";
}

QByteArray quotedPrintable(QByteArrayView body)
{
    static constexpr char kHex[] = "0123456789ABCDEF";
    const auto breakAt = [body](qsizetype i) { return i + 1 < body.size() && body[i] == '\r' && body[i + 1] == '\n'; };
    QByteArray out;
    out.reserve(body.size() + body.size() / 2 + 16);
    qsizetype lineLength = 0;
    for (qsizetype i = 0; i < body.size(); ++i) {
        if (breakAt(i)) {
            out += "\r\n";
            ++i;
            lineLength = 0;
            continue;
        }
        const auto c = static_cast<unsigned char>(body[i]);
        const bool lineEnds = i + 1 == body.size() || breakAt(i + 1);
        // A blank at the end of a line would be lost by anything that trims lines on the way.
        const bool literal = (c >= 33 && c <= 126 && c != '=') || ((c == ' ' || c == '\t') && !lineEnds);
        const qsizetype width = literal ? 1 : 3;
        // A soft break needs one column for its "=", unless this is the last character of the line.
        if (lineLength + width > (lineEnds ? kMimeLineWidth : kMimeLineWidth - 1)) {
            out += "=\r\n";
            lineLength = 0;
        }
        if (literal) {
            out += char(c);
        } else {
            out += '=';
            out += kHex[c >> 4];
            out += kHex[c & 15];
        }
        lineLength += width;
    }
    return out;
}

bool fitsEightBit(QByteArrayView body)
{
    if (body.contains('\0'))
        return false;
    for (qsizetype start = 0;;) {
        const qsizetype end = body.indexOf("\r\n", start);
        if ((end < 0 ? body.size() : end) - start > kMaxEightBitLine)
            return false;
        if (end < 0)
            return true;
        start = end + 2;
    }
}

} // namespace sondrel::mail
