#include "store/StoredText.h"

#include "platform/CodePage.h"

#include <QStringDecoder>

#include <algorithm>

namespace sondrel::store {

namespace {

bool isContinuation(char b)
{
    return (static_cast<unsigned char>(b) & 0xC0) == 0x80;
}

} // namespace

QByteArray encodeStoredText(QStringView text, qsizetype maxBytes)
{
    // The code page bytes are kept only when they read back as the same characters: a character the code
    // page lacks reads back as "?", and the rare code page bytes that also form valid UTF-8 (such as "Ã©")
    // would read back as other characters.
    const QByteArray codePage = platform::toCodePage(text).left(maxBytes);
    if (decodeStoredText(codePage) == text.first(codePage.size()))
        return codePage;

    QByteArray utf8 = text.toUtf8();
    if (utf8.size() > maxBytes) {
        // Back to the first byte of the character that straddles the limit. A character outside the Basic
        // Multilingual Plane is one four-byte sequence, so a surrogate pair is never split either.
        qsizetype cut = maxBytes;
        while (cut > 0 && isContinuation(utf8[cut]))
            --cut;
        utf8.truncate(cut);
    }
    return utf8;
}

QString decodeStoredText(QByteArrayView bytes)
{
    const bool beyondAscii = std::any_of(bytes.begin(), bytes.end(), [](char b) { return b & 0x80; });
    if (beyondAscii && bytes.isValidUtf8()) {
        // A leading U+FEFF is part of the text, not a byte order mark to drop.
        QStringDecoder utf8(QStringConverter::Utf8, QStringConverter::Flag::ConvertInitialBom);
        return utf8(bytes);
    }
    return platform::fromCodePage(bytes);
}

} // namespace sondrel::store
