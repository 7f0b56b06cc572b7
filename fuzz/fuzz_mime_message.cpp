// The message data sent after DATA, and its MIME pieces, for any texts: quoted-printable decodes back to the body
// with no line over 76 characters, encoded words decode back to their text, and no text can end a line early or end
// the data before its final "." line.
#include "FuzzInput.h"

#include "mail/MimeMessage.h"
#include "mail/SmtpProtocol.h"

#include <optional>

using namespace sondrel::mail;

namespace {

int hexValue(char c)
{
    return c >= '0' && c <= '9' ? c - '0' : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
}

// The bytes a quoted-printable text stands for; nothing when an "=" is followed by neither a line break nor two
// upper-case hex digits.
std::optional<QByteArray> fromQuotedPrintable(QByteArrayView encoded)
{
    QByteArray bytes;
    for (qsizetype i = 0; i < encoded.size(); ++i) {
        if (encoded[i] != '=') {
            bytes += encoded[i];
        } else if (encoded.sliced(i + 1).startsWith("\r\n")) {
            i += 2;
        } else if (i + 2 < encoded.size() && hexValue(encoded[i + 1]) >= 0 && hexValue(encoded[i + 2]) >= 0) {
            bytes += static_cast<char>(hexValue(encoded[i + 1]) * 16 + hexValue(encoded[i + 2]));
            i += 2;
        } else {
            return std::nullopt;
        }
    }
    return bytes;
}

// Every CR is followed by LF and every LF follows a CR.
bool breaksAreCrLf(QByteArrayView bytes)
{
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        if (bytes[i] == '\r' && (i + 1 == bytes.size() || bytes[i + 1] != '\n'))
            return false;
        if (bytes[i] == '\n' && (i == 0 || bytes[i - 1] != '\r'))
            return false;
    }
    return true;
}

void checkQuotedPrintable(QByteArrayView body)
{
    const QByteArray encoded = quotedPrintable(body);
    SONDREL_FUZZ_CHECK(fromQuotedPrintable(encoded) == body.toByteArray() && breaksAreCrLf(encoded));
    for (const QByteArray& line : encoded.split('\n')) {
        const QByteArrayView text = QByteArrayView(line).chopped(line.endsWith('\r') ? 1 : 0);
        SONDREL_FUZZ_CHECK(text.size() <= kMimeLineWidth && !text.endsWith(' ') && !text.endsWith('\t'));
        for (const char c : text)
            SONDREL_FUZZ_CHECK((c >= 33 && c <= 126) || c == ' ' || c == '\t');
    }
}

void checkEncodedWords(const QString& text, qsizetype firstWidth)
{
    const QList<QByteArray> words = encodedWords(text, firstWidth);
    QByteArray utf8;
    for (qsizetype i = 0; i < words.size(); ++i) {
        const QByteArray& word = words[i];
        SONDREL_FUZZ_CHECK(word.size() <= (i == 0 ? firstWidth : kMaxEncodedWord));
        SONDREL_FUZZ_CHECK(word.startsWith("=?UTF-8?B?") && word.endsWith("?=") && word.size() > 12);
        const auto decoded =
            QByteArray::fromBase64Encoding(word.sliced(10).chopped(2), QByteArray::AbortOnBase64DecodingErrors);
        SONDREL_FUZZ_CHECK(decoded.decodingStatus == QByteArray::Base64DecodingStatus::Ok);
        utf8 += decoded.decoded;
    }
    SONDREL_FUZZ_CHECK(utf8 == text.toUtf8());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    sondrel::fuzz::FuzzInput input(data, size);
    const quint8 choice = input.byte();
    const qsizetype firstWidth = 20 + input.byte() % 60;
    // Each text as UTF-8, or as UTF-16 that may hold lone surrogates.
    const auto text = [&input, choice](qsizetype length) {
        const QByteArrayView bytes = input.take(length);
        return choice & 2 ? sondrel::fuzz::utf16Text(bytes) : QString::fromUtf8(bytes);
    };
    SmtpMessage message;
    message.senderName = text(input.byte() % 64);
    message.senderAddress = text(input.byte() % 64);
    message.recipientName = text(input.byte() % 64);
    message.recipientAddress = text(input.byte() % 128);
    message.subject = text(input.byte());
    const QString date = text(input.byte() % 8);
    const QString messageId = text(input.byte() % 8);
    message.text = text(size);

    checkQuotedPrintable(message.text.toUtf8());
    checkEncodedWords(message.subject, firstWidth);

    const QByteArray sent = messageData(message, date, messageId, MessageEncoding{(choice & 1) != 0});
    SONDREL_FUZZ_CHECK(breaksAreCrLf(sent) && sent.endsWith("\r\n.\r\n"));
    const QByteArrayList lines = sent.chopped(2).split('\n');
    for (qsizetype i = 0; i + 1 < lines.size(); ++i)
        SONDREL_FUZZ_CHECK(lines[i] != ".\r");
    if (!isAsciiMessage(message)) {
        const bool eightBit = sent.contains("Content-Transfer-Encoding: 8bit\r\n");
        SONDREL_FUZZ_CHECK(eightBit ? (choice & 1) != 0 : sent.contains("Content-Transfer-Encoding: quoted-printable"));
        const QByteArrayView body = QByteArrayView(sent).sliced(sent.indexOf("\r\n\r\n") + 4);
        for (const char c : body)
            SONDREL_FUZZ_CHECK(eightBit || static_cast<unsigned char>(c) < 128);
    } else if (splitRecipients(message.recipientAddress) == QStringList{message.recipientAddress}) {
        SONDREL_FUZZ_CHECK(sent == messageData(message, date, messageId));
    }
    return 0;
}
