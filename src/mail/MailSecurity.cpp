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
const QByteArray kLoginKey = QByteArrayLiteral("login");
const QByteArray kProviderKey = QByteArrayLiteral("provider");

// The OAuth2 settings kept as text lines, in the order they are written.
const std::array<std::pair<QByteArrayView, QString OAuthSettings::*>, 5> kOAuthTexts{{
    {"clientId", &OAuthSettings::clientId},
    {"authorizationUrl", &OAuthSettings::authorizationUrl},
    {"tokenUrl", &OAuthSettings::tokenUrl},
    {"scope", &OAuthSettings::scope},
    {"tokenCommand", &OAuthSettings::tokenCommand},
}};

constexpr std::array kProviders{OAuthProvider::Microsoft, OAuthProvider::Google, OAuthProvider::Custom};

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

OAuthProvider providerNamed(QByteArrayView value)
{
    for (const OAuthProvider provider : kProviders) {
        if (value.compare(oauthProviderName(provider).toLatin1(), Qt::CaseInsensitive) == 0)
            return provider;
    }
    return OAuthProvider::Microsoft;
}

bool holdsLineBreak(const QString& text)
{
    return text.contains(u'\n') || text.contains(u'\r');
}

} // namespace

QString loginMethodName(LoginMethod method)
{
    return method == LoginMethod::OAuth2 ? QStringLiteral("OAuth2") : QStringLiteral("Password");
}

QString oauthProviderName(OAuthProvider provider)
{
    switch (provider) {
    case OAuthProvider::Microsoft:
        break;
    case OAuthProvider::Google:
        return QStringLiteral("Google");
    case OAuthProvider::Custom:
        return QStringLiteral("Custom");
    }
    return QStringLiteral("Microsoft");
}

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
        else if (key == kLoginKey)
            settings.login = value.trimmed().compare("OAuth2", Qt::CaseInsensitive) == 0 ? LoginMethod::OAuth2
                                                                                         : LoginMethod::Password;
        else if (key == kProviderKey)
            settings.oauth.provider = providerNamed(value.trimmed());
        for (const auto& [name, member] : kOAuthTexts) {
            if (key == name)
                settings.oauth.*member = utf8Text(value).value_or(QString()).trimmed();
        }
    }
    return settings;
}

bool MailSecurityFile::save(const MailSecurity& settings, QString* error) const
{
    if (holdsLineBreak(settings.user)) {
        if (error)
            *error = QStringLiteral("The user name cannot hold a line break.");
        return false;
    }
    for (const auto& [name, member] : kOAuthTexts) {
        if (holdsLineBreak(settings.oauth.*member)) {
            if (error)
                *error = QStringLiteral("The %1 cannot hold a line break.").arg(QLatin1StringView(name));
            return false;
        }
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
    if (settings.login == LoginMethod::OAuth2) {
        content += kLoginKey + '=' + loginMethodName(settings.login).toLatin1() + '\n';
        content += kProviderKey + '=' + oauthProviderName(settings.oauth.provider).toLatin1() + '\n';
        for (const auto& [name, member] : kOAuthTexts) {
            if (!(settings.oauth.*member).isEmpty())
                content += name.toByteArray() + '=' + (settings.oauth.*member).toUtf8() + '\n';
        }
    }
    return platform::replaceWholeFile(path(), content, error);
}

} // namespace sondrel::mail
