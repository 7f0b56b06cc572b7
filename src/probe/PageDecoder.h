#pragma once

#include <QByteArray>
#include <QString>
#include <QStringDecoder>

namespace sondrel::probe {

// Turns a page body that arrives in pieces into text. A byte-order mark at the start decides the
// encoding; else the charset named by the Content-Type header; else (none, UTF-8, or one not known
// here) UTF-8, where every byte that is not part of a valid UTF-8 sequence is read as Windows-1252.
// A character split between pieces comes out whole with the piece that completes it.
class PageDecoder {
public:
    explicit PageDecoder(QByteArrayView contentType);

    QString decode(QByteArrayView bytes);
    // The body has ended: whatever is still held comes out.
    QString finish();

    // The charset parameter of a Content-Type value, lower case, without quotes; empty if none.
    static QByteArray charsetOf(QByteArrayView contentType);

private:
    enum class Mode { Sniffing, Utf8OrCodePage, CodePage, Converter };

    void choose(QByteArrayView start, qsizetype& bomLength);
    QString decodeChosen(QByteArrayView bytes);
    QString decodeUtf8Piece(QByteArrayView bytes, bool last);

    QByteArray m_charset;
    Mode m_mode = Mode::Sniffing;
    QStringDecoder m_converter;
    QByteArray m_held; // the first bytes while sniffing, else an unfinished UTF-8 sequence
    QString m_text;    // the last text handed out, kept for its buffer
};

// Decodes UTF-8 where it is valid and reads every other byte as Windows-1252; the second form
// replaces the content of text, reusing its buffer.
QString fromUtf8OrCodePage(QByteArrayView bytes);
void decodeUtf8OrCodePage(QByteArrayView bytes, QString& text);

} // namespace sondrel::probe
