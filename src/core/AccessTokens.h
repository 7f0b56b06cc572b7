#pragma once

#include "core/PasswordVault.h"
#include "mail/MailSecurity.h"
#include "platform/Clock.h"
#include "platform/DesktopShell.h"
#include "platform/OAuthTransport.h"

#include <QObject>
#include <QTimer>

#include <functional>
#include <map>
#include <memory>

namespace sondrel::core {

// What an OAuth2 login keeps where passwords are kept: the application's client secret and the refresh token.
struct OAuthSecrets {
    QString clientSecret;
    QString refreshToken;
};
// One text for the password vault (JSON), and back; nothing from a text that is not one of ours.
QString encodeOAuthSecrets(const OAuthSecrets& secrets);
std::optional<OAuthSecrets> decodeOAuthSecrets(const QString& text);
// The vault's host for a login's OAuth2 secrets, apart from the password of the same host and user.
QString oauthVaultHost(const QString& smtpHost);

// The access tokens of OAuth2 logins. A token comes from the login's token command when it has one, run afresh
// each time; else from the refresh token kept in the vault, renewed a minute before it expires and whenever the
// server refused it. Tokens live in memory only. Sign-in runs the authorization-code flow with PKCE in the
// desktop's browser and a redirect to 127.0.0.1. Destroying the object cancels everything: no callback is called
// afterwards.
class AccessTokens final : public QObject {
    Q_OBJECT
public:
    struct Login {
        QString host; // the SMTP host name, without a port
        QString user;
        mail::OAuthSettings settings;
    };
    struct Token {
        QString accessToken; // empty when none could be had
        QString error;       // why not, for the user
        bool signInAgain = false;
    };
    using TokenDone = std::function<void(const Token& token)>;
    // error is empty when the sign-in succeeded; where tells where its secrets are kept then.
    using SignInDone = std::function<void(const QString& error, PasswordPlace where)>;

    static constexpr int kCommandTimeoutMs = 30000;
    static constexpr int kSignInTimeoutMs = 5 * 60 * 1000;

    AccessTokens(platform::OAuthTransport& transport, platform::Clock& clock, PasswordVault& vault,
                 QObject* parent = nullptr);
    ~AccessTokens() override;

    // The login's access token, from the event loop. renew: the server refused the one at hand, so a fresh one is
    // fetched whatever its time left.
    void fetch(const Login& login, bool renew, TokenDone done);

    // Opens the provider's sign-in page in the browser and waits, up to five minutes, for the browser to come back
    // with a code, which is traded for the tokens; the refresh token and the client secret go to the vault. A
    // sign-in under way is given up for the new one.
    void signIn(const Login& login, const QString& clientSecret, platform::DesktopShell& shell, SignInDone done);
    bool signingIn() const { return m_signIn != nullptr; }
    // Gives up the sign-in under way; its callback is not called.
    void cancelSignIn();
    // Forgets the login's access token and removes its secrets from the vault.
    void signOut(const Login& login, std::function<void()> done);

    // The sentence that explains a missing or refused sign-in, with the reason.
    static QString signInAgainText(const Login& login, const QString& reason);

private:
    struct Cached {
        QString accessToken;
        qint64 expiresAtMs = 0; // monotonic; 0: no known end
    };
    struct Refresh;
    struct SignIn;

    static QString cacheKey(const Login& login);
    void runCommand(const Login& login, TokenDone done);
    void refresh(const Login& login, TokenDone done);
    void refreshed(const QString& key, const Login& login, const OAuthSecrets& secrets,
                   const platform::OAuthTransport::FormReply& reply);
    void endRefresh(const QString& key, const Token& token);
    void redirected(const QUrlQuery& query);
    void traded(const platform::OAuthTransport::FormReply& reply);
    void endSignIn(const QString& error, PasswordPlace where);
    void remember(const QString& key, const QString& accessToken, qint64 expiresInSeconds);

    platform::OAuthTransport& m_transport;
    platform::Clock& m_clock;
    PasswordVault& m_vault;
    std::map<QString, Cached> m_cache;
    std::map<QString, std::unique_ptr<Refresh>> m_refreshes; // one per login, shared by every caller meanwhile
    std::vector<std::unique_ptr<platform::PendingOperation>> m_commands;
    std::unique_ptr<SignIn> m_signIn;
    QTimer m_signInTimer;
};

} // namespace sondrel::core
