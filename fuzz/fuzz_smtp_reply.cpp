// The SMTP reply reader, the EHLO reply parser and the OAuth2 challenge reader over whatever a server may send, cut
// in arbitrary pieces; and the token endpoint's reply read from the same bytes.
#include "FuzzInput.h"

#include "mail/OAuth2.h"
#include "mail/SmtpProtocol.h"

using namespace sondrel::mail;

namespace {

struct Reading {
    QByteArrayList replies;
    bool overflowed = false;
};

// The replies as a session reads them: every whole reply taken after each piece that arrives.
Reading readReplies(const std::vector<QByteArrayView>& pieces)
{
    SmtpReplyReader reader;
    Reading reading;
    for (const QByteArrayView piece : pieces) {
        reader.append(piece);
        while (const auto reply = reader.takeReply())
            reading.replies.append(*reply);
    }
    reading.overflowed = reader.overflowed();
    return reading;
}

bool isContinuationLine(QByteArrayView line)
{
    const auto digit = [&line](qsizetype i) { return line[i] >= '0' && line[i] <= '9'; };
    return line.size() >= 4 && digit(0) && digit(1) && digit(2) && line[3] == '-';
}

// ASCII letters in the other case: keywords and mechanisms must read the same.
QByteArray swappedCase(QByteArray bytes)
{
    for (char& c : bytes) {
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'))
            c ^= 0x20;
    }
    return bytes;
}

bool operator==(const SmtpExtensions& a, const SmtpExtensions& b)
{
    return a.startTls == b.startTls && a.authPlain == b.authPlain && a.authLogin == b.authLogin &&
           a.authXoauth2 == b.authXoauth2 && a.authOauthBearer == b.authOauthBearer && a.eightBitMime == b.eightBitMime;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    sondrel::fuzz::FuzzInput input(data, size);
    const auto lengths = input.pieceLengths();
    const QByteArrayView bytes = input.rest();

    const Reading whole = readReplies({bytes});
    const Reading inPieces = readReplies(sondrel::fuzz::cutInPieces(bytes, lengths));
    SONDREL_FUZZ_CHECK(inPieces.replies == whole.replies && inPieces.overflowed == whole.overflowed);

    // The replies are the bytes from the start, each ending with a last line that is not a continuation line.
    QByteArray joined;
    for (const QByteArray& reply : whole.replies) {
        SONDREL_FUZZ_CHECK(reply.endsWith('\n') && reply.size() <= SmtpReplyReader::kMaxReply);
        const QByteArrayList lines = reply.chopped(1).split('\n');
        for (qsizetype i = 0; i < lines.size(); ++i) {
            const QByteArrayView line = QByteArrayView(lines[i]).chopped(lines[i].endsWith('\r') ? 1 : 0);
            SONDREL_FUZZ_CHECK(line.size() <= SmtpReplyReader::kMaxReplyLine);
            SONDREL_FUZZ_CHECK(isContinuationLine(line) == (i + 1 < lines.size()));
        }
        SONDREL_FUZZ_CHECK(parseEhloReply(reply) == parseEhloReply(swappedCase(reply)));
        SONDREL_FUZZ_CHECK(!readOAuthChallenge(reply).reason.isEmpty());
        joined += reply;
    }
    SONDREL_FUZZ_CHECK(bytes.startsWith(joined));

    // A token endpoint's answer either grants a token that can go on the wire as it is, or says why not.
    for (const int status : {200, 400}) {
        const TokenGrant grant = readTokenReply(status, bytes, {});
        SONDREL_FUZZ_CHECK(grant.granted ? !grant.accessToken.isEmpty() && grant.error.isEmpty()
                                         : grant.accessToken.isEmpty() && !grant.error.isEmpty());
        SONDREL_FUZZ_CHECK(!grant.accessToken.contains(u'\n') && !grant.accessToken.contains(u'\r'));
    }
    return 0;
}
