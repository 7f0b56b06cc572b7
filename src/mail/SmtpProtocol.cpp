#include "mail/SmtpProtocol.h"

#include "mail/MimeMessage.h"
#include "platform/CodePage.h"
#include "store/FixedText.h"

#include <QJsonDocument>
#include <QJsonObject>
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

// Every line break (CR LF, LF or CR) as CR LF.
QByteArray withCrLf(QByteArrayView in)
{
    QByteArray out;
    out.reserve(in.size() + in.size() / 16 + 2);
    for (qsizetype i = 0; i < in.size(); ++i) {
        const char c = in[i];
        if (c == '\r' || c == '\n') {
            if (c == '\r' && i + 1 < in.size() && in[i + 1] == '\n')
                ++i;
            out.append("\r\n", 2);
        } else {
            out.append(c);
        }
    }
    return out;
}

// A line of CR LF text that begins with "." gets one more in front, so that no line reads as the end of DATA.
QByteArray dotStuffed(QByteArrayView in)
{
    QByteArray out;
    out.reserve(in.size() + in.size() / 16 + 2);
    for (qsizetype i = 0; i < in.size(); ++i) {
        if (in[i] == '.' && (i == 0 || in[i - 1] == '\n'))
            out.append('.');
        out.append(in[i]);
    }
    return out;
}

QByteArray base64Of(QStringView text)
{
    return text.toUtf8().toBase64();
}

bool isAscii(QStringView text)
{
    return std::all_of(text.cbegin(), text.cend(), [](QChar c) { return c.unicode() < 128; });
}

// The three lines that say how a UTF-8 plain text body travels.
QByteArray mimeLines(bool eightBit)
{
    return QByteArrayLiteral("MIME-Version: 1.0\r\nContent-Type: text/plain; charset=UTF-8\r\n"
                             "Content-Transfer-Encoding: ") +
           (eightBit ? "8bit" : "quoted-printable") + "\r\n";
}

// "Name <address>", as a message in the code page shows sender and recipient.
QString namedAddress(QStringView name, QStringView address)
{
    return blankControls(name) + QStringLiteral(" <") + blankControls(address) + u'>';
}

// The message in the code page, with the given To line (CR LF included).
QByteArray codePageMessageData(const SmtpMessage& message, const QByteArray& toLine, const QString& date,
                               const QString& messageId)
{
    const QString from = QStringLiteral("From:") + namedAddress(message.senderName, message.senderAddress);
    QString rest = QStringLiteral("Subject:") + blankControls(message.subject) + QStringLiteral("\r\n");
    rest += QStringLiteral("Date: ") + blankControls(date) + QStringLiteral("\r\n");
    rest += QStringLiteral("Message-ID: ") + blankControls(messageId) + QStringLiteral("\r\n\r\n");
    return platform::toCodePage(from) + "\r\n" + toLine + platform::toCodePage(rest) + encodeMessageText(message.text) +
           "\r\n\r\n\r\n.\r\n";
}

// The From, To and Subject lines of a message that is not ASCII: each name and the subject as encoded words, the
// first word sized to fit after the header's name, and the addresses in UTF-8 as typed. An empty name leaves a
// blank before the address, as in an ASCII message.
QByteArray mimeAddressHeaders(const SmtpMessage& message, const QStringList& recipients)
{
    const auto words = [](QByteArrayView header, QStringView text) {
        return encodedWords(blankControls(text), kMimeLineWidth - header.size());
    };
    const auto withName = [&words](QByteArrayView header, QStringView name) {
        QList<QByteArray> pieces = words(header, name);
        if (pieces.isEmpty())
            pieces.append(QByteArray());
        return pieces;
    };
    const auto angled = [](QStringView address) { return '<' + blankControls(address).toUtf8() + '>'; };

    QList<QByteArray> from = withName("From:", message.senderName);
    from.append(angled(message.senderAddress));
    QList<QByteArray> to = withName("To:", message.recipientName);
    for (qsizetype i = 0; i < recipients.size(); ++i)
        to.append(angled(recipients[i]) + (i + 1 < recipients.size() ? "," : ""));
    return foldedHeader("From:", from) + foldedHeader("To:", to) +
           foldedHeader("Subject:", words("Subject:", message.subject));
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

SmtpExtensions parseEhloReply(QByteArrayView reply)
{
    SmtpExtensions extensions;
    if (replyCode(reply) != "250")
        return extensions;
    const auto isBlank = [](char c) { return c == ' ' || c == '\t'; };
    // The first line greets with the server's name and announces nothing.
    for (qsizetype start = reply.indexOf('\n') + 1; start > 0 && start < reply.size();) {
        const qsizetype end = reply.indexOf('\n', start);
        QByteArrayView line = reply.sliced(start, (end < 0 ? reply.size() : end) - start);
        start = end + 1;
        if (line.endsWith('\r'))
            line.chop(1);
        if (line.size() < 4)
            continue;
        QByteArrayView rest = line.sliced(4);
        qsizetype keywordEnd = 0;
        while (keywordEnd < rest.size() && !isBlank(rest[keywordEnd]) && rest[keywordEnd] != '=')
            ++keywordEnd;
        const QByteArray keyword = rest.first(keywordEnd).toByteArray().toUpper();
        if (keyword == "STARTTLS") {
            extensions.startTls = true;
        } else if (keyword == "8BITMIME") {
            extensions.eightBitMime = true;
        } else if (keyword == "AUTH") {
            rest = rest.sliced(qMin(keywordEnd + 1, rest.size()));
            for (const QByteArray& mechanism : rest.toByteArray().toUpper().replace('\t', ' ').split(' ')) {
                extensions.authPlain = extensions.authPlain || mechanism == "PLAIN";
                extensions.authLogin = extensions.authLogin || mechanism == "LOGIN";
                extensions.authXoauth2 = extensions.authXoauth2 || mechanism == "XOAUTH2";
                extensions.authOauthBearer = extensions.authOauthBearer || mechanism == "OAUTHBEARER";
            }
        }
    }
    return extensions;
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

QByteArray ehloCommand(QStringView domain)
{
    return commandLine(QString(QStringLiteral("EHLO ") + blankControls(domain)));
}

QByteArray startTlsCommand()
{
    return QByteArrayLiteral("STARTTLS\r\n");
}

QByteArray mailFromCommand(QStringView senderAddress, bool eightBit)
{
    QByteArray line = mailFromCommand(senderAddress);
    if (eightBit)
        line.insert(line.size() - 2, " BODY=8BITMIME");
    return line;
}

QByteArray authPlainCommand(QStringView user, QStringView password)
{
    QString credentials;
    credentials.append(u'\0').append(user).append(u'\0').append(password);
    return "AUTH PLAIN " + base64Of(credentials) + "\r\n";
}

QByteArray authLoginCommand()
{
    return QByteArrayLiteral("AUTH LOGIN\r\n");
}

QByteArray base64Line(QStringView text)
{
    return base64Of(text) + "\r\n";
}

// The separator of the OAuth2 client responses, ^A.
constexpr QChar kSoh(0x01);

QByteArray xoauth2Command(QStringView user, QStringView token)
{
    QString response = QStringLiteral("user=");
    response.append(user).append(kSoh).append(QStringLiteral("auth=Bearer ")).append(token).append(kSoh).append(kSoh);
    return "AUTH XOAUTH2 " + base64Of(response) + "\r\n";
}

QByteArray oauthBearerCommand(QStringView user, QStringView host, quint16 port, QStringView token)
{
    // The user name is a saslname: "=" and "," would end it early.
    QString name = user.toString();
    name.replace(u'=', QStringLiteral("=3D")).replace(u',', QStringLiteral("=2C"));
    QString response = name.isEmpty() ? QStringLiteral("n,,") : QStringLiteral("n,a=") + name + u',';
    response.append(kSoh).append(QStringLiteral("host=")).append(host);
    response.append(kSoh).append(QStringLiteral("port=")).append(QString::number(port));
    response.append(kSoh).append(QStringLiteral("auth=Bearer ")).append(token).append(kSoh).append(kSoh);
    return "AUTH OAUTHBEARER " + base64Of(response) + "\r\n";
}

QByteArray xoauth2ErrorAnswer()
{
    return QByteArrayLiteral("\r\n");
}

QByteArray oauthBearerErrorAnswer()
{
    return QByteArrayLiteral("AQ==\r\n");
}

OAuthChallenge readOAuthChallenge(QByteArrayView reply)
{
    OAuthChallenge challenge;
    challenge.reason = QStringLiteral("The server refused the login with a challenge that could not be read.");
    if (!reply.startsWith("334 "))
        return challenge;
    QByteArrayView encoded = reply.sliced(4);
    const qsizetype end = encoded.indexOf('\n');
    if (end >= 0)
        encoded.truncate(end);
    const auto decoded =
        QByteArray::fromBase64Encoding(encoded.trimmed().toByteArray(), QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded)
        return challenge;
    const QJsonDocument document = QJsonDocument::fromJson(*decoded);
    if (!document.isObject())
        return challenge;
    const QJsonObject object = document.object();
    // The values come from the server: kept short and on one line, as they end up in a message to the user.
    const auto value = [&object](QLatin1String key) {
        const QJsonValue value = object.value(key);
        const QString text = value.isDouble() ? QString::number(value.toDouble()) : value.toString();
        return blankControls(text.left(200)).simplified();
    };
    const QString status = value(QLatin1String("status"));
    const QString scope = value(QLatin1String("scope"));
    challenge.tokenRejected = status == u"401" || status == u"invalid_token";
    if (challenge.tokenRejected)
        challenge.reason = QStringLiteral("The server refused the access token");
    else if (status == u"insufficient_scope")
        challenge.reason = QStringLiteral("The access token lacks the permission to send mail");
    else
        challenge.reason = QStringLiteral("The server refused the login");
    QStringList details;
    if (!status.isEmpty())
        details.append(QStringLiteral("status ") + status);
    if (!scope.isEmpty())
        details.append(QStringLiteral("scope ") + scope);
    if (!details.isEmpty())
        challenge.reason += QStringLiteral(" (") + details.join(QStringLiteral("; ")) + u')';
    challenge.reason += u'.';
    return challenge;
}

QStringList splitRecipients(QStringView text)
{
    QStringList addresses;
    qsizetype start = 0;
    for (qsizetype i = 0; i <= text.size(); ++i) {
        if (i < text.size() && text[i] != u',' && text[i] != u';')
            continue;
        QString address = store::trimSpaces(text.sliced(start, i - start));
        if (!address.isEmpty())
            addresses.append(std::move(address));
        start = i + 1;
    }
    return addresses;
}

QByteArray encodeMessageText(QStringView text)
{
    return dotStuffed(withCrLf(platform::toCodePage(text)));
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
    const QString to = QStringLiteral("To:") + namedAddress(message.recipientName, message.recipientAddress);
    return codePageMessageData(message, platform::toCodePage(to) + "\r\n", date, messageId);
}

bool isAsciiMessage(const SmtpMessage& message)
{
    return isAscii(message.senderName) && isAscii(message.senderAddress) && isAscii(message.recipientName) &&
           isAscii(message.recipientAddress) && isAscii(message.subject) && isAscii(message.text);
}

QByteArray messageData(const SmtpMessage& message, const QString& date, const QString& messageId,
                       MessageEncoding encoding)
{
    QStringList recipients = splitRecipients(message.recipientAddress);
    // A text without any address keeps what was typed, so that the To line shows it as the three-argument form does.
    if (recipients.isEmpty())
        recipients.append(message.recipientAddress);
    if (isAsciiMessage(message)) {
        QList<QByteArray> pieces;
        for (qsizetype i = 0; i < recipients.size(); ++i) {
            QString piece = i == 0 ? namedAddress(message.recipientName, recipients[i])
                                   : u'<' + blankControls(recipients[i]) + u'>';
            if (i + 1 < recipients.size())
                piece += u',';
            pieces.append(platform::toCodePage(piece));
        }
        return codePageMessageData(message, foldedHeader("To:", pieces), date, messageId);
    }

    const QByteArray text = withCrLf(message.text.toUtf8());
    const bool eightBit = encoding.eightBit && fitsEightBit(text);
    QByteArray data = mimeAddressHeaders(message, recipients);
    data += "Date: " + blankControls(date).toUtf8() + "\r\n";
    data += "Message-ID: " + blankControls(messageId).toUtf8() + "\r\n";
    data += mimeLines(eightBit) + "\r\n";
    data += dotStuffed(eightBit ? text : quotedPrintable(text));
    data += "\r\n\r\n\r\n.\r\n";
    return data;
}

} // namespace sondrel::mail
