#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <optional>

namespace sondrel::mail {

// Collects the bytes a server sends and hands out whole replies. A reply is complete when its last line
// has arrived: every line but the last has the form "250-..."; data that arrives in pieces waits for the rest.
class SmtpReplyReader {
public:
    void append(QByteArrayView bytes);
    // The next complete reply with all its lines and line ends, or nothing while its last line is missing.
    std::optional<QByteArray> takeReply();

private:
    QByteArray m_buffer;
    qsizetype m_scanned = 0; // bytes already known to hold only continuation lines
};

// The first three characters of a reply.
QByteArray replyCode(QByteArrayView reply);
// The codes that lead the dialogue on: 220, 250 and 354, whichever of them comes.
bool isAcceptedCode(QByteArrayView code);

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

} // namespace sondrel::mail
