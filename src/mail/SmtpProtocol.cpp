#include "mail/SmtpProtocol.h"

#include "platform/CodePage.h"
#include "store/FixedText.h"

#include <QLocale>

#include <algorithm>

namespace sondrel::mail {

namespace {

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

// A line that says more lines of the same reply follow: three digits and a hyphen.
bool isContinuationLine(QByteArrayView line)
{
    return line.size() >= 4 && isDigit(line[0]) && isDigit(line[1]) && isDigit(line[2]) && line[3] == '-';
}

QByteArray commandLine(QStringView text)
{
    return platform::toCodePage(text) + "\r\n";
}

} // namespace

void SmtpReplyReader::append(QByteArrayView bytes)
{
    if (!m_overflowed)
        m_buffer.append(bytes);
}

void SmtpReplyReader::overflow()
{
    m_overflowed = true;
    m_buffer.clear();
    m_buffer.squeeze();
    m_scanned = 0;
}

std::optional<QByteArray> SmtpReplyReader::takeReply()
{
    while (!m_overflowed) {
        const qsizetype end = m_buffer.indexOf('\n', m_scanned);
        if (end < 0) {
            // The line under way, less a line end still to come, is already too long.
            if (m_buffer.size() - m_scanned > kMaxReplyLine + 1 || m_buffer.size() > kMaxReply)
                overflow();
            return std::nullopt;
        }
        QByteArrayView line = QByteArrayView(m_buffer).sliced(m_scanned, end - m_scanned);
        if (line.endsWith('\r'))
            line.chop(1);
        if (line.size() > kMaxReplyLine || end + 1 > kMaxReply) {
            overflow();
            return std::nullopt;
        }
        if (isContinuationLine(line)) {
            m_scanned = end + 1;
            continue;
        }
        QByteArray reply = m_buffer.left(end + 1);
        m_buffer.remove(0, end + 1);
        m_scanned = 0;
        return reply;
    }
    return std::nullopt;
}

QByteArray replyCode(QByteArrayView reply)
{
    return reply.first(qMin<qsizetype>(3, reply.size())).toByteArray();
}

bool isAcceptedCode(QByteArrayView code)
{
    return code == "220" || code == "250" || code == "354";
}

bool invitesMessage(QByteArrayView code)
{
    return code == "354";
}

bool acceptsRecipient(QByteArrayView code)
{
    return isAcceptedCode(code) || code == "251";
}

SmtpEndpoint parseSmtpHost(QStringView hostText)
{
    SmtpEndpoint endpoint;
    const QString text = store::trimSpaces(hostText);
    const qsizetype colon = text.indexOf(u':');
    if (colon < 0) {
        endpoint.host = text;
        return endpoint;
    }
    endpoint.host = store::trimSpaces(QStringView(text).first(colon));
    endpoint.portText = store::trimSpaces(QStringView(text).sliced(colon + 1));
    int port = 0;
    bool digitsOnly = !endpoint.portText.isEmpty() && endpoint.portText.size() <= 5;
    for (const QChar c : std::as_const(endpoint.portText)) {
        if (c < u'0' || c > u'9') {
            digitsOnly = false;
            break;
        }
        port = port * 10 + (c.unicode() - u'0');
    }
    endpoint.portValid = digitsOnly && port >= 1 && port <= 65535;
    endpoint.port = endpoint.portValid ? static_cast<quint16>(port) : 0;
    return endpoint;
}

QString blankControls(QStringView text)
{
    QString result = text.toString();
    for (QChar& c : result) {
        if (c.unicode() < 32)
            c = u' ';
    }
    return result;
}

QString heloArgument(QStringView senderAddress)
{
    const QString trimmed = store::trimSpaces(senderAddress);
    const qsizetype at = trimmed.indexOf(u'@');
    return at < 0 ? trimmed : trimmed.first(at);
}

QByteArray heloCommand(QStringView senderAddress)
{
    return commandLine(QString(QStringLiteral("HELO ") + blankControls(heloArgument(senderAddress))));
}

QByteArray mailFromCommand(QStringView senderAddress)
{
    return commandLine(QString(QStringLiteral("MAIL FROM:<") + blankControls(store::trimSpaces(senderAddress)) + u'>'));
}

QByteArray rcptToCommand(QStringView recipientAddress)
{
    return commandLine(
        QString(QStringLiteral("RCPT TO:<") + blankControls(store::trimSpaces(recipientAddress)) + u'>'));
}

QByteArray dataCommand()
{
    return QByteArrayLiteral("DATA\r\n");
}

QByteArray quitCommand()
{
    return QByteArrayLiteral("QUIT\r\n");
}

QByteArray encodeMessageText(QStringView text)
{
    const QByteArray in = platform::toCodePage(text);
    QByteArray out;
    out.reserve(in.size() + in.size() / 16 + 2);
    bool atLineStart = true;
    for (qsizetype i = 0; i < in.size(); ++i) {
        const char c = in[i];
        if (c == '\r' || c == '\n') {
            if (c == '\r' && i + 1 < in.size() && in[i + 1] == '\n')
                ++i;
            out.append("\r\n", 2);
            atLineStart = true;
            continue;
        }
        if (atLineStart && c == '.')
            out.append('.');
        out.append(c);
        atLineStart = false;
    }
    return out;
}

QString dateHeaderValue(const QDateTime& when)
{
    const QLocale c = QLocale::c();
    const int offsetMinutes = when.offsetFromUtc() / 60;
    const int absolute = qAbs(offsetMinutes);
    return c.toString(when, QStringLiteral("ddd, dd MMM yyyy hh:mm:ss ")) + (offsetMinutes < 0 ? u'-' : u'+') +
           QStringLiteral("%1%2")
               .arg(absolute / 60, 2, 10, QLatin1Char('0'))
               .arg(absolute % 60, 2, 10, QLatin1Char('0'));
}

QString messageIdValue(QStringView senderAddress, const QDateTime& when, quint64 unique)
{
    const QString trimmed = store::trimSpaces(senderAddress);
    const qsizetype at = trimmed.lastIndexOf(u'@');
    QString domain = at < 0 ? QString() : trimmed.sliced(at + 1);
    const bool usable = !domain.isEmpty() && !domain.startsWith(u'.') && !domain.endsWith(u'.') &&
                        !domain.contains(QStringLiteral("..")) &&
                        std::all_of(domain.cbegin(), domain.cend(), [](QChar c) {
                            return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9') ||
                                   c == u'.' || c == u'-';
                        });
    if (!usable)
        domain = QStringLiteral("localhost");
    const QString stamp = when.toUTC().toString(QStringLiteral("yyyyMMddhhmmsszzz"));
    return QStringLiteral("<%1.%2@%3>").arg(stamp).arg(unique, 16, 16, QLatin1Char('0')).arg(domain);
}

QByteArray messageData(const SmtpMessage& message, const QString& date, const QString& messageId)
{
    QString head;
    head += QStringLiteral("From:") + blankControls(message.senderName) + QStringLiteral(" <") +
            blankControls(message.senderAddress) + QStringLiteral(">\r\n");
    head += QStringLiteral("To:") + blankControls(message.recipientName) + QStringLiteral(" <") +
            blankControls(message.recipientAddress) + QStringLiteral(">\r\n");
    head += QStringLiteral("Subject:") + blankControls(message.subject) + QStringLiteral("\r\n");
    head += QStringLiteral("Date: ") + blankControls(date) + QStringLiteral("\r\n");
    head += QStringLiteral("Message-ID: ") + blankControls(messageId) + QStringLiteral("\r\n\r\n");
    const QByteArray body = encodeMessageText(message.text);
    QByteArray data;
    data.reserve(head.size() + body.size() + 16);
    data += platform::toCodePage(head);
    data += body;
    data += "\r\n\r\n\r\n.\r\n";
    return data;
}

} // namespace sondrel::mail
