#include "mail/OAuth2.h"

#include <QCryptographicHash>
#include <QHostAddress>
#include <QJsonDocument>
#include <QJsonObject>
#include <QUrlQuery>

#include <algorithm>

namespace sondrel::mail {

namespace {

QByteArray base64Url(QByteArrayView bytes)
{
    return bytes.toByteArray().toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals);
}

// A token endpoint or authorization page must be reached over TLS; plain http is accepted only on loopback,
// where no one else can listen in.
bool isSafeEndpoint(const QUrl& url)
{
    if (!url.isValid() || url.host().isEmpty())
        return false;
    if (url.scheme() == u"https")
        return true;
    const QHostAddress address(url.host());
    return url.scheme() == u"http" && !address.isNull() && address.isLoopback();
}

QByteArray formOf(const QList<std::pair<QString, QString>>& items)
{
    QByteArray form;
    for (const auto& [key, value] : items) {
        if (!form.isEmpty())
            form += '&';
        form += QUrl::toPercentEncoding(key) + '=' + QUrl::toPercentEncoding(value);
    }
    return form;
}

// At most this much of an endpoint's own words reaches the user.
QString bounded(QString text)
{
    text = text.simplified();
    constexpr qsizetype kMaxWords = 300;
    if (text.size() > kMaxWords)
        text = text.first(kMaxWords) + QStringLiteral("...");
    return text;
}

} // namespace

OAuthEndpoints oauthEndpoints(const OAuthSettings& settings)
{
    OAuthEndpoints endpoints;
    switch (settings.provider) {
    case OAuthProvider::Microsoft:
        endpoints.authorization =
            QUrl(QStringLiteral("https://login.microsoftonline.com/common/oauth2/v2.0/authorize"));
        endpoints.token = QUrl(QStringLiteral("https://login.microsoftonline.com/common/oauth2/v2.0/token"));
        endpoints.scope = QStringLiteral("https://outlook.office.com/SMTP.Send offline_access");
        endpoints.redirectToLocalhost = true;
        break;
    case OAuthProvider::Google:
        endpoints.authorization = QUrl(QStringLiteral("https://accounts.google.com/o/oauth2/v2/auth"));
        endpoints.token = QUrl(QStringLiteral("https://oauth2.googleapis.com/token"));
        endpoints.scope = QStringLiteral("https://mail.google.com/");
        // Google hands out a refresh token only when asked for offline access, and again only with consent.
        endpoints.extraAuthorizationItems = {{QStringLiteral("access_type"), QStringLiteral("offline")},
                                             {QStringLiteral("prompt"), QStringLiteral("consent")}};
        break;
    case OAuthProvider::Custom:
        endpoints.authorization = QUrl(settings.authorizationUrl.trimmed(), QUrl::StrictMode);
        endpoints.token = QUrl(settings.tokenUrl.trimmed(), QUrl::StrictMode);
        endpoints.scope = settings.scope.simplified();
        break;
    }
    return endpoints;
}

QString oauthSettingsProblem(const OAuthSettings& settings)
{
    if (settings.clientId.trimmed().isEmpty())
        return QStringLiteral("Enter the client ID of the application you registered with the provider.");
    const OAuthEndpoints endpoints = oauthEndpoints(settings);
    if (!isSafeEndpoint(endpoints.authorization))
        return QStringLiteral("The authorization URL must be an https address (or http on 127.0.0.1).");
    if (!isSafeEndpoint(endpoints.token))
        return QStringLiteral("The token URL must be an https address (or http on 127.0.0.1).");
    if (endpoints.scope.isEmpty())
        return QStringLiteral("Enter the scope to ask for, such as the one your provider names for sending mail.");
    return {};
}

Pkce makePkce(QByteArrayView randomBytes)
{
    Pkce pkce;
    pkce.verifier = base64Url(randomBytes);
    pkce.challenge = base64Url(QCryptographicHash::hash(pkce.verifier, QCryptographicHash::Sha256));
    return pkce;
}

QUrl authorizationRequestUrl(const OAuthEndpoints& endpoints, const QString& clientId, const QUrl& redirectUri,
                             const QByteArray& state, const Pkce& pkce, const QString& user)
{
    QList<std::pair<QString, QString>> items = {
        {QStringLiteral("response_type"), QStringLiteral("code")},
        {QStringLiteral("client_id"), clientId.trimmed()},
        {QStringLiteral("redirect_uri"), redirectUri.toString(QUrl::FullyEncoded)},
        {QStringLiteral("scope"), endpoints.scope},
        {QStringLiteral("state"), QString::fromLatin1(state)},
        {QStringLiteral("code_challenge"), QString::fromLatin1(pkce.challenge)},
        {QStringLiteral("code_challenge_method"), QStringLiteral("S256")},
    };
    if (!user.trimmed().isEmpty())
        items.append({QStringLiteral("login_hint"), user.trimmed()});
    items.append(endpoints.extraAuthorizationItems);
    // The authorization URL may bring query items of its own (a tenant's policy, say); ours follow them.
    QUrl url = endpoints.authorization;
    const QByteArray own = url.query(QUrl::FullyEncoded).toLatin1();
    url.setQuery(QString::fromLatin1(own.isEmpty() ? formOf(items) : own + '&' + formOf(items)), QUrl::StrictMode);
    return url;
}

QByteArray authorizationCodeForm(const QString& code, const QUrl& redirectUri, const QString& clientId,
                                 const QString& clientSecret, const QByteArray& verifier)
{
    QList<std::pair<QString, QString>> items = {
        {QStringLiteral("grant_type"), QStringLiteral("authorization_code")},
        {QStringLiteral("code"), code},
        {QStringLiteral("redirect_uri"), redirectUri.toString(QUrl::FullyEncoded)},
        {QStringLiteral("client_id"), clientId.trimmed()},
        {QStringLiteral("code_verifier"), QString::fromLatin1(verifier)},
    };
    if (!clientSecret.isEmpty())
        items.append({QStringLiteral("client_secret"), clientSecret});
    return formOf(items);
}

QByteArray refreshTokenForm(const QString& refreshToken, const QString& clientId, const QString& clientSecret,
                            const QString& scope)
{
    QList<std::pair<QString, QString>> items = {
        {QStringLiteral("grant_type"), QStringLiteral("refresh_token")},
        {QStringLiteral("refresh_token"), refreshToken},
        {QStringLiteral("client_id"), clientId.trimmed()},
    };
    if (!scope.isEmpty())
        items.append({QStringLiteral("scope"), scope});
    if (!clientSecret.isEmpty())
        items.append({QStringLiteral("client_secret"), clientSecret});
    return formOf(items);
}

TokenGrant readTokenReply(int httpStatus, QByteArrayView body, const QString& networkError)
{
    TokenGrant grant;
    if (httpStatus == 0) {
        grant.error = QStringLiteral("The token endpoint could not be reached: %1").arg(bounded(networkError));
        return grant;
    }
    const QJsonObject object = QJsonDocument::fromJson(body.toByteArray()).object();
    if (httpStatus != 200) {
        const QString error = object.value(QStringLiteral("error")).toString();
        const QString description = object.value(QStringLiteral("error_description")).toString();
        // A refused grant or client stays refused until the user signs in (or registers) again; anything else,
        // a server error or a rate limit, may pass.
        grant.signInAgain = error == u"invalid_grant" || error == u"invalid_client" ||
                            error == u"unauthorized_client" || error == u"invalid_scope";
        grant.error =
            error.isEmpty()
                ? QStringLiteral("The token endpoint answered with HTTP status %1.").arg(httpStatus)
                : QStringLiteral("The token endpoint refused: %1%2")
                      .arg(bounded(error),
                           description.isEmpty() ? QString() : QStringLiteral(" (") + bounded(description) + u')');
        return grant;
    }
    grant.accessToken = object.value(QStringLiteral("access_token")).toString();
    grant.refreshToken = object.value(QStringLiteral("refresh_token")).toString();
    const QJsonValue expiresIn = object.value(QStringLiteral("expires_in"));
    // Some endpoints send the lifetime as text.
    const double seconds = expiresIn.isString() ? expiresIn.toString().toDouble() : expiresIn.toDouble();
    grant.expiresInSeconds = seconds > 0 && seconds < 10.0 * 365 * 24 * 3600 ? qint64(seconds) : 0;
    const QString type = object.value(QStringLiteral("token_type")).toString();
    QString problem;
    if (!tokenFromCommandOutput(grant.accessToken.toUtf8(), &problem).isEmpty() &&
        (type.isEmpty() || type.compare(u"bearer", Qt::CaseInsensitive) == 0)) {
        grant.granted = true;
        return grant;
    }
    grant.accessToken.clear();
    grant.refreshToken.clear();
    grant.error = type.isEmpty() || type.compare(u"bearer", Qt::CaseInsensitive) == 0
                      ? QStringLiteral("The token endpoint's answer holds no usable access token.")
                      : QStringLiteral("The token endpoint gave a token of type \"%1\"; only bearer tokens can "
                                       "be used for mail.")
                            .arg(bounded(type));
    return grant;
}

QString tokenFromCommandOutput(QByteArrayView output, QString* problem)
{
    const QByteArray token = output.trimmed().toByteArray();
    const auto say = [problem](const QString& text) {
        if (problem)
            *problem = text;
        return QString();
    };
    if (token.isEmpty())
        return say(QStringLiteral("no access token was printed"));
    if (!std::all_of(token.cbegin(), token.cend(), [](char c) { return c > 32 && c < 127; }))
        return say(QStringLiteral("the access token must be one line of printable ASCII without blanks"));
    return QString::fromLatin1(token);
}

} // namespace sondrel::mail
