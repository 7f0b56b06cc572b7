#pragma once

#include "mail/MailSecurity.h"

#include <QByteArray>
#include <QString>
#include <QUrl>

namespace sondrel::mail {

// The endpoints and scope of an OAuth2 provider: the presets' own, or those the settings name for Custom.
struct OAuthEndpoints {
    QUrl authorization;
    QUrl token;
    QString scope;
    // Query items the authorization request adds, such as Google's "access_type=offline" that asks for a
    // refresh token.
    QList<std::pair<QString, QString>> extraAuthorizationItems;
    // The redirect names "localhost" rather than 127.0.0.1, for a provider that accepts a loopback redirect on any
    // port only under that name (Microsoft).
    bool redirectToLocalhost = false;
};
OAuthEndpoints oauthEndpoints(const OAuthSettings& settings);

// Why the endpoints cannot be used: empty, or a sentence for the user (no client id, a URL that is not https
// or loopback http, no scope).
QString oauthSettingsProblem(const OAuthSettings& settings);

// Proof Key for Code Exchange (RFC 7636) with S256: the verifier is the base64url of 32 random bytes, the
// challenge the base64url of the verifier's SHA-256, both without padding.
struct Pkce {
    QByteArray verifier;
    QByteArray challenge;
};
Pkce makePkce(QByteArrayView randomBytes);

// The browser's request: response_type=code, client_id, redirect_uri, scope, state, code_challenge,
// code_challenge_method=S256, login_hint when user is not empty, and the endpoints' extra items.
QUrl authorizationRequestUrl(const OAuthEndpoints& endpoints, const QString& clientId, const QUrl& redirectUri,
                             const QByteArray& state, const Pkce& pkce, const QString& user);
// The form bodies (application/x-www-form-urlencoded) for the token endpoint. client_secret is sent only when not
// empty.
QByteArray authorizationCodeForm(const QString& code, const QUrl& redirectUri, const QString& clientId,
                                 const QString& clientSecret, const QByteArray& verifier);
QByteArray refreshTokenForm(const QString& refreshToken, const QString& clientId, const QString& clientSecret,
                            const QString& scope);

// What the token endpoint answered (RFC 6749 section 5).
struct TokenGrant {
    bool granted = false;
    QString accessToken;
    QString refreshToken;        // empty when the endpoint sent none (the old one stays good)
    qint64 expiresInSeconds = 0; // 0 when not told
    QString error;               // for the user: the endpoint's error and its description, or what was wrong
    bool signInAgain = false;    // the refresh token or code was refused for good ("invalid_grant" and the like)
};
// httpStatus is 0 with networkError when no HTTP answer came.
TokenGrant readTokenReply(int httpStatus, QByteArrayView body, const QString& networkError);

// Whether an access token printed by a token command can be used: the output trimmed of white space at both
// ends, a single line of visible ASCII. Empty with problem set otherwise.
QString tokenFromCommandOutput(QByteArrayView output, QString* problem);

} // namespace sondrel::mail
