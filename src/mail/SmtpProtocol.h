#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringList>

#include <optional>

namespace sondrel::mail {

// Collects the bytes a server sends and hands out whole replies. A reply is complete when its last line
// has arrived: every line but the last has the form "250-..."; data that arrives in pieces waits for the rest.
// A server may not make it keep more than one bounded reply: a line longer than kMaxReplyLine bytes (without its
// line end) or a reply longer than kMaxReply bytes makes the reader overflow, after which it keeps nothing.
class SmtpReplyReader {
public:
    static constexpr qsizetype kMaxReplyLine = 4096;
    static constexpr qsizetype kMaxReply = 64 * 1024;

    void append(QByteArrayView bytes);
    // The next complete reply with all its lines and line ends, or nothing while its last line is missing or
    // once the reader has overflowed.
    std::optional<QByteArray> takeReply();
    bool overflowed() const { return m_overflowed; }

private:
    void overflow();

    QByteArray m_buffer;
    qsizetype m_scanned = 0; // bytes already known to hold only continuation lines
    bool m_overflowed = false;
};

// The first three characters of a reply.
QByteArray replyCode(QByteArrayView reply);
// The codes that lead the dialogue on: 220, 250 and 354, whichever of them comes.
bool isAcceptedCode(QByteArrayView code);
// The code that lets the message follow DATA: 354 only. Any other reply ends the dialogue, so that message lines
// can never reach a server that reads them as commands.
bool invitesMessage(QByteArrayView code);
// RCPT TO also succeeds with 251, "user not local; will forward".
bool acceptsRecipient(QByteArrayView code);

// The service extensions a whole EHLO reply announces, one keyword with its parameters on every line after the
// first. Keywords and mechanisms are read in any case; "AUTH" lists its mechanisms after a blank, or after "=" as
// older servers write it. A reply other than 250 announces nothing.
struct SmtpExtensions {
    bool startTls = false;
    bool authPlain = false;
    bool authLogin = false;
    bool authXoauth2 = false;
    bool authOauthBearer = false;
    bool eightBitMime = false;
};
SmtpExtensions parseEhloReply(QByteArrayView reply);

// Where to connect: the trimmed host text, optionally followed by ":" and a port (25 without one).
struct SmtpEndpoint {
    QString host;
    quint16 port = 25;
    bool portValid = true; // false when the text after ":" is not a number from 1 to 65535
    QString portText;
};
SmtpEndpoint parseSmtpHost(QStringView hostText);

// Characters below 32 replaced by blanks, so that no value can end a command or a header line early.
QString blankControls(QStringView text);

// The HELO argument: the part of the trimmed sender address before its first "@", the whole address
// when it has none.
QString heloArgument(QStringView senderAddress);

// Command lines with CR LF, in the 8-bit code page.
QByteArray heloCommand(QStringView senderAddress);
QByteArray mailFromCommand(QStringView senderAddress);
QByteArray rcptToCommand(QStringView recipientAddress);
QByteArray dataCommand();
QByteArray quitCommand();
QByteArray ehloCommand(QStringView domain);
QByteArray startTlsCommand();
// "MAIL FROM:<a> BODY=8BITMIME" when eightBit, so that the server passes the 8bit message on unchanged.
QByteArray mailFromCommand(QStringView senderAddress, bool eightBit);

// The login lines carry the UTF-8 bytes of user and password in base64, so any character can be sent.
// "AUTH PLAIN " and the base64 of NUL, user, NUL, password.
QByteArray authPlainCommand(QStringView user, QStringView password);
QByteArray authLoginCommand();
// One answer to a prompt of AUTH LOGIN: the base64 of the text.
QByteArray base64Line(QStringView text);

// OAuth2 logins carry the access token as a bearer token.
// "AUTH XOAUTH2 " and the base64 of "user=" user ^A "auth=Bearer " token ^A ^A.
QByteArray xoauth2Command(QStringView user, QStringView token);
// "AUTH OAUTHBEARER " and the base64 of the RFC 7628 client response: "n,a=" user (with "=" as "=3D" and "," as
// "=2C") "," ("n,," without a user) ^A "host=" host ^A "port=" port ^A "auth=Bearer " token ^A ^A.
QByteArray oauthBearerCommand(QStringView user, QStringView host, quint16 port, QStringView token);
// What the client answers to the error challenge of either mechanism so that the server ends the exchange with its
// final reply: an empty line for XOAUTH2, the base64 of ^A for OAUTHBEARER.
QByteArray xoauth2ErrorAnswer();
QByteArray oauthBearerErrorAnswer();
// The error a 334 challenge carries after an OAuth2 login was refused: the base64 of a JSON object with "status"
// ("401", "invalid_token", "insufficient_scope" ...), and perhaps "scope" and "schemes". reason says it in words for
// the user, one sentence with the status and scope the server named; tokenRejected is true when the status says the
// token itself was not good (expired or revoked), which a fresh token may mend. A reply that is not a 334 carrying
// such an object gives a reason that says the challenge could not be read.
struct OAuthChallenge {
    QString reason;
    bool tokenRejected = false;
};
OAuthChallenge readOAuthChallenge(QByteArrayView reply);

// The addresses of a recipient text: the parts between "," and ";", trimmed of blanks, empty ones left out.
QStringList splitRecipients(QStringView text);

// The message text made transparent for the wire: every line break (CR LF, LF or CR) becomes CR LF and a
// line beginning with "." gets one more "." in front.
QByteArray encodeMessageText(QStringView text);

// "Mon, 02 Jan 2006 15:04:05 +0100": the date in its Internet message form, with the time's UTC offset.
QString dateHeaderValue(const QDateTime& when);

// "<unique@domain>", with the domain of the sender address ("localhost" when it has no usable one).
QString messageIdValue(QStringView senderAddress, const QDateTime& when, quint64 unique);

struct SmtpMessage {
    QString senderName;
    QString senderAddress;
    QString recipientName;
    QString recipientAddress;
    QString subject;
    QString text;
};

// Everything sent after the server has accepted DATA: the From, To, Subject, Date and Message-ID lines,
// the empty line, the message text, three line breaks and the final "." line.
QByteArray messageData(const SmtpMessage& message, const QString& date, const QString& messageId);

// How the message may travel: eightBit when the server announced 8BITMIME.
struct MessageEncoding {
    bool eightBit = false;
};

// True when every text of the message is ASCII, so that it needs no MIME.
bool isAsciiMessage(const SmtpMessage& message);

// Everything sent after DATA, with a To line that names every address of splitRecipients(recipientAddress): the
// first after the recipient name, the others alone, separated by ", " and folded between addresses once the line
// would pass 76 characters. For a single address typed without blanks around it that line, and for an ASCII
// message every other byte, is what the three-argument messageData gives.
// Any other message is MIME in UTF-8: the subject and the names as encoded words, the addresses as typed, the
// MIME lines after Message-ID, and the body as quoted-printable, or as 8bit when the encoding allows it and the
// body fits 8bit (no NUL, no line over 998 bytes).
QByteArray messageData(const SmtpMessage& message, const QString& date, const QString& messageId,
                       MessageEncoding encoding);

} // namespace sondrel::mail
