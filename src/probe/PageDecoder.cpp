#include "probe/PageDecoder.h"

#include "platform/CodePage.h"

#include <QList>

#include <array>
#include <cstring>

namespace sondrel::probe {

namespace {

// Labels that browsers read as Windows-1252, which is a superset of Latin-1 and ASCII for every
// byte that carries text.
constexpr std::array<const char*, 17> kCodePageLabels = {
    "ansi_x3.4-1968", "ascii",        "cp1252",   "cp819",      "csisolatin1",     "ibm819", "iso-8859-1",
    "iso-ir-100",     "iso8859-1",    "iso88591", "iso_8859-1", "iso_8859-1:1987", "l1",     "latin1",
    "us-ascii",       "windows-1252", "x-cp1252"};

bool isCodePageLabel(QByteArrayView charset)
{
    for (const char* label : kCodePageLabels) {
        if (charset == label)
            return true;
    }
    return false;
}

bool isContinuation(unsigned char b)
{
    return (b & 0xC0) == 0x80;
}

// Length of the UTF-8 sequence that lead begins and the allowed range of its second byte (which
// rules out overlong forms, surrogates and code points above U+10FFFF); 0 for a byte that cannot
// begin a sequence.
struct SequenceShape {
    int length;
    unsigned char low;
    unsigned char high;
};

SequenceShape shapeOf(unsigned char lead)
{
    if (lead >= 0xC2 && lead <= 0xDF)
        return {2, 0x80, 0xBF};
    if (lead == 0xE0)
        return {3, 0xA0, 0xBF};
    if (lead == 0xED)
        return {3, 0x80, 0x9F};
    if (lead >= 0xE1 && lead <= 0xEF)
        return {3, 0x80, 0xBF};
    if (lead == 0xF0)
        return {4, 0x90, 0xBF};
    if (lead >= 0xF1 && lead <= 0xF3)
        return {4, 0x80, 0xBF};
    if (lead == 0xF4)
        return {4, 0x80, 0x8F};
    return {0, 0, 0};
}

// How many bytes from at form a valid UTF-8 sequence (its full length), or, if the bytes end
// first, the negated count of bytes that are a valid beginning of one; 0 if neither.
int validSequenceAt(QByteArrayView bytes, qsizetype at)
{
    const auto lead = static_cast<unsigned char>(bytes[at]);
    if (lead < 0x80)
        return 1;
    const SequenceShape shape = shapeOf(lead);
    if (shape.length == 0)
        return 0;
    const qsizetype available = bytes.size() - at;
    for (int k = 1; k < shape.length; ++k) {
        if (k >= available)
            return -k;
        const auto b = static_cast<unsigned char>(bytes[at + k]);
        if (k == 1 ? (b < shape.low || b > shape.high) : !isContinuation(b))
            return 0;
    }
    return shape.length;
}

} // namespace

void decodeUtf8OrCodePage(QByteArrayView bytes, QString& text)
{
    if (bytes.isValidUtf8()) {
        // Decoded into the space text already has, so a page read piece by piece reuses one buffer.
        QStringDecoder utf8(QStringConverter::Utf8,
                            QStringConverter::Flag::Stateless | QStringConverter::Flag::ConvertInitialBom);
        text.resize(utf8.requiredSpace(bytes.size()));
        const QChar* end = utf8.appendToBuffer(text.data(), bytes);
        text.truncate(end - text.constData());
        return;
    }
    // Every byte gives at most one UTF-16 unit, a four-byte sequence two.
    text.resize(bytes.size());
    QChar* out = text.data();
    qsizetype at = 0;
    while (at < bytes.size()) {
        // Runs of ASCII a block at a time, as in the folding.
        constexpr qsizetype kBlock = 16;
        while (bytes.size() - at >= kBlock) {
            std::array<unsigned char, kBlock> block;
            std::memcpy(block.data(), bytes.data() + at, kBlock);
            unsigned char any = 0;
            for (const unsigned char b : block)
                any |= b;
            if (any >= 0x80)
                break;
            for (qsizetype j = 0; j < kBlock; ++j)
                out[j] = QChar(block[j]);
            out += kBlock;
            at += kBlock;
        }
        if (at == bytes.size())
            break;
        const auto lead = static_cast<unsigned char>(bytes[at]);
        if (lead < 0x80) {
            *out++ = QChar(lead);
            ++at;
            continue;
        }
        const int length = validSequenceAt(bytes, at);
        if (length > 0) {
            char32_t codePoint = lead & (0x7F >> length);
            for (int k = 1; k < length; ++k)
                codePoint = (codePoint << 6) | (static_cast<unsigned char>(bytes[at + k]) & 0x3F);
            if (QChar::requiresSurrogates(codePoint)) {
                *out++ = QChar(QChar::highSurrogate(codePoint));
                *out++ = QChar(QChar::lowSurrogate(codePoint));
            } else {
                *out++ = QChar(static_cast<char16_t>(codePoint));
            }
            at += length;
            continue;
        }
        qsizetype end = at + 1;
        while (end < bytes.size() && static_cast<unsigned char>(bytes[end]) >= 0x80 && validSequenceAt(bytes, end) <= 0)
            ++end;
        for (const QChar c : platform::fromCodePage(bytes.sliced(at, end - at)))
            *out++ = c;
        at = end;
    }
    text.truncate(out - text.constData());
}

QString fromUtf8OrCodePage(QByteArrayView bytes)
{
    QString text;
    decodeUtf8OrCodePage(bytes, text);
    return text;
}

PageDecoder::PageDecoder(QByteArrayView contentType)
    : m_charset(charsetOf(contentType))
{
}

QByteArray PageDecoder::charsetOf(QByteArrayView contentType)
{
    const QList<QByteArray> parts = contentType.toByteArray().split(';');
    for (qsizetype i = 1; i < parts.size(); ++i) {
        const QByteArray parameter = parts[i].trimmed();
        const qsizetype equals = parameter.indexOf('=');
        if (equals < 0 || parameter.first(equals).trimmed().toLower() != "charset")
            continue;
        QByteArray value = parameter.sliced(equals + 1).trimmed();
        if (value.size() >= 2 && value.startsWith('"') && value.endsWith('"'))
            value = value.sliced(1, value.size() - 2).trimmed();
        return value.toLower();
    }
    return {};
}

QString PageDecoder::decode(QByteArrayView bytes)
{
    if (m_mode != Mode::Sniffing)
        return decodeChosen(bytes);
    m_held.append(bytes);
    if (m_held.size() < 3)
        return {};
    const QByteArray start = std::exchange(m_held, {});
    qsizetype bomLength = 0;
    choose(start, bomLength);
    return decodeChosen(QByteArrayView(start).sliced(bomLength));
}

QString PageDecoder::finish()
{
    if (m_mode == Mode::Sniffing) {
        const QByteArray start = std::exchange(m_held, {});
        qsizetype bomLength = 0;
        choose(start, bomLength);
        QString text = decodeChosen(QByteArrayView(start).sliced(bomLength));
        return text + finish();
    }
    switch (m_mode) {
    case Mode::Utf8OrCodePage:
        return decodeUtf8Piece({}, true);
    case Mode::Converter:
        // An unfinished character at the very end is dropped: it cannot be read as anything.
        m_converter.resetState();
        return {};
    case Mode::CodePage:
    case Mode::Sniffing:
        break;
    }
    return {};
}

void PageDecoder::choose(QByteArrayView start, qsizetype& bomLength)
{
    const auto flags = QStringConverter::Flag::ConvertInitialBom;
    if (start.startsWith("\xEF\xBB\xBF")) {
        bomLength = 3;
        m_mode = Mode::Utf8OrCodePage;
        return;
    }
    if (start.startsWith("\xFF\xFE") || start.startsWith("\xFE\xFF")) {
        bomLength = 2;
        m_mode = Mode::Converter;
        m_converter = QStringDecoder(start[0] == '\xFF' ? QStringConverter::Utf16LE : QStringConverter::Utf16BE, flags);
        return;
    }
    bomLength = 0;
    // Declared UTF-8 is read like undeclared text: Qt's own streaming UTF-8 decoder loses the byte
    // that follows an invalid sequence split between pieces, and a page that says UTF-8 but holds
    // Windows-1252 bytes is common enough to deserve the same leniency.
    if (m_charset.isEmpty() || QStringConverter::encodingForName(m_charset.constData()) == QStringConverter::Utf8) {
        m_mode = Mode::Utf8OrCodePage;
    } else if (isCodePageLabel(m_charset)) {
        m_mode = Mode::CodePage;
    } else {
        // A bare "utf-16" means little-endian, as browsers read it.
        const QByteArray name = m_charset == "utf-16" ? QByteArray("utf-16le") : m_charset;
        m_converter = QStringDecoder(name.constData(), flags);
        m_mode = m_converter.isValid() ? Mode::Converter : Mode::Utf8OrCodePage;
    }
}

QString PageDecoder::decodeChosen(QByteArrayView bytes)
{
    switch (m_mode) {
    case Mode::Utf8OrCodePage:
        return decodeUtf8Piece(bytes, false);
    case Mode::CodePage:
        return platform::fromCodePage(bytes);
    case Mode::Converter:
        return m_converter.decode(bytes);
    case Mode::Sniffing:
        break;
    }
    return {};
}

QString PageDecoder::decodeUtf8Piece(QByteArrayView bytes, bool last)
{
    QByteArray joined;
    if (!m_held.isEmpty()) {
        joined = std::exchange(m_held, {});
        joined.append(bytes);
        bytes = joined;
    }
    if (!last) {
        // Hold back a valid beginning of a sequence that the next piece may complete.
        for (qsizetype back = 1; back <= 3 && back <= bytes.size(); ++back) {
            const qsizetype at = bytes.size() - back;
            if (isContinuation(static_cast<unsigned char>(bytes[at])))
                continue;
            if (validSequenceAt(bytes, at) < 0) {
                m_held = bytes.sliced(at).toByteArray();
                bytes.truncate(at);
            }
            break;
        }
    }
    decodeUtf8OrCodePage(bytes, m_text);
    return m_text;
}

} // namespace sondrel::probe
