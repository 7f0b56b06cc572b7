#include "mail/MailSecurity.h"

#include "platform/WholeFile.h"
#include "store/Paths.h"
#include "store/SettingsText.h"

#include <QStringDecoder>

#include <array>

namespace sondrel::mail {

namespace {

constexpr std::array kSecurities{SmtpSecurity::None, SmtpSecurity::StartTls, SmtpSecurity::ImplicitTls};

const QByteArray kSecurityKey = QByteArrayLiteral("security");
const QByteArray kUserKey = QByteArrayLiteral("user");
const QByteArray kGroupSecondsKey = QByteArrayLiteral("groupSeconds");

// The value's text, or nothing when its bytes are not UTF-8.
std::optional<QString> utf8Text(QByteArrayView bytes)
{
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = decoder(bytes);
    if (decoder.hasError())
        return std::nullopt;
    return text;
}

// A whole number of seconds from 0 to kMaxGroupSeconds as written, or the default.
int groupSecondsFrom(QByteArrayView value)
{
    bool ok = false;
    const int seconds = value.trimmed().toInt(&ok);
    return ok && seconds >= 0 && seconds <= kMaxGroupSeconds ? seconds : kDefaultGroupSeconds;
}

SmtpSecurity securityNamed(QByteArrayView value)
{
    for (const SmtpSecurity security : kSecurities) {
        if (value.compare(smtpSecurityName(security).toLatin1(), Qt::CaseInsensitive) == 0)
            return security;
    }
    return SmtpSecurity::None;
}

} // namespace

quint16 defaultPort(SmtpSecurity security)
{
    switch (security) {
    case SmtpSecurity::None:
        break;
    case SmtpSecurity::StartTls:
        return 587;
    case SmtpSecurity::ImplicitTls:
        return 465;
    }
    return 25;
}

QString smtpSecurityName(SmtpSecurity security)
{
    switch (security) {
    case SmtpSecurity::None:
        break;
    case SmtpSecurity::StartTls:
        return QStringLiteral("STARTTLS");
    case SmtpSecurity::ImplicitTls:
        return QStringLiteral("SSL/TLS");
    }
    return QStringLiteral("None");
}

MailSecurityFile::MailSecurityFile(QString programFolder)
    : m_programFolder(std::move(programFolder))
{
}

QString MailSecurityFile::path() const
{
    return store::dataFile(m_programFolder, QStringLiteral("mailsecurity.ini"));
}

std::optional<MailSecurity> MailSecurityFile::load(QString* error) const
{
    QByteArray content;
    if (!store::readSettingsText(path(), content, error))
        return std::nullopt;
    MailSecurity settings;
    for (QByteArray& line : content.split('\n')) {
        if (line.endsWith('\r'))
            line.chop(1);
        const qsizetype equals = line.indexOf('=');
        if (equals < 0)
            continue;
        const QByteArray key = line.first(equals).trimmed();
        const QByteArrayView value = QByteArrayView(line).sliced(equals + 1);
        if (key == kSecurityKey)
            settings.security = securityNamed(value.trimmed());
        else if (key == kUserKey)
            settings.user = utf8Text(value).value_or(QString());
        else if (key == kGroupSecondsKey)
            settings.groupSeconds = groupSecondsFrom(value);
    }
    return settings;
}

bool MailSecurityFile::save(const MailSecurity& settings, QString* error) const
{
    if (settings.user.contains(u'\n') || settings.user.contains(u'\r')) {
        if (error)
            *error = QStringLiteral("The user name cannot hold a line break.");
        return false;
    }
    if (settings.groupSeconds < 0 || settings.groupSeconds > kMaxGroupSeconds) {
        if (error)
            *error = QStringLiteral("The grouping time must be from 0 to %1 seconds.").arg(kMaxGroupSeconds);
        return false;
    }
    QByteArray content = kSecurityKey + '=' + smtpSecurityName(settings.security).toLatin1() + '\n' + kUserKey + '=' +
                         settings.user.toUtf8() + '\n';
    if (settings.groupSeconds != kDefaultGroupSeconds)
        content += kGroupSecondsKey + '=' + QByteArray::number(settings.groupSeconds) + '\n';
    return platform::replaceWholeFile(path(), content, error);
}

} // namespace sondrel::mail
