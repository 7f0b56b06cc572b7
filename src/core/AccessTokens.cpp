#include "core/AccessTokens.h"

#include "mail/OAuth2.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QPointer>
#include <QRandomGenerator>

namespace sondrel::core {

namespace {

// A token with less than this to run is renewed before it is used, so that it cannot expire mid-exchange.
constexpr qint64 kRenewAheadMs = 60 * 1000;

QByteArray randomBytes(int count)
{
    QByteArray bytes(count, Qt::Uninitialized);
    QRandomGenerator::system()->fillRange(reinterpret_cast<quint32*>(bytes.data()), count / 4);
    return bytes;
}

} // namespace

QString encodeOAuthSecrets(const OAuthSecrets& secrets)
{
    const QJsonObject object{{QStringLiteral("oauth2"), 1},
                             {QStringLiteral("clientSecret"), secrets.clientSecret},
                             {QStringLiteral("refreshToken"), secrets.refreshToken}};
    return QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact));
}

std::optional<OAuthSecrets> decodeOAuthSecrets(const QString& text)
{
    const QJsonObject object = QJsonDocument::fromJson(text.toUtf8()).object();
    if (object.value(QStringLiteral("oauth2")).toInt() != 1)
        return std::nullopt;
    return OAuthSecrets{object.value(QStringLiteral("clientSecret")).toString(),
                        object.value(QStringLiteral("refreshToken")).toString()};
}

QString oauthVaultHost(const QString& smtpHost)
{
    return QStringLiteral("oauth2:") + smtpHost;
}

struct AccessTokens::Refresh {
    std::vector<TokenDone> waiting;
    std::unique_ptr<platform::PendingOperation> post;
};

struct AccessTokens::SignIn {
    Login login;
    QString clientSecret;
    mail::OAuthEndpoints endpoints;
    mail::Pkce pkce;
    QByteArray state;
    std::unique_ptr<platform::OAuthTransport::RedirectListener> listener;
    QUrl redirectUri;
    std::unique_ptr<platform::PendingOperation> post;
    SignInDone done;
};

AccessTokens::AccessTokens(platform::OAuthTransport& transport, platform::Clock& clock, PasswordVault& vault,
                           QObject* parent)
    : QObject(parent)
    , m_transport(transport)
    , m_clock(clock)
    , m_vault(vault)
{
    m_signInTimer.setSingleShot(true);
    connect(&m_signInTimer, &QTimer::timeout, this, [this] {
        endSignIn(QStringLiteral("The sign-in was not finished within %1 minutes; click Sign In to try again.")
                      .arg(kSignInTimeoutMs / 60000),
                  PasswordPlace::Nowhere);
    });
}

AccessTokens::~AccessTokens() = default;

QString AccessTokens::cacheKey(const Login& login)
{
    return login.host.toLower() + u'\n' + login.user + u'\n' + login.settings.clientId + u'\n' +
           mail::oauthEndpoints(login.settings).token.toString();
}

QString AccessTokens::signInAgainText(const Login& login, const QString& reason)
{
    return QStringLiteral("Sign in again: open the e-mail settings and click Sign In for %1 (%2).")
        .arg(login.user, reason);
}

void AccessTokens::fetch(const Login& login, bool renew, TokenDone done)
{
    if (!login.settings.tokenCommand.trimmed().isEmpty())
        return runCommand(login, std::move(done));
    const QString key = cacheKey(login);
    const auto cached = m_cache.find(key);
    if (renew && cached != m_cache.end())
        m_cache.erase(cached);
    else if (cached != m_cache.end() &&
             (cached->second.expiresAtMs == 0 || cached->second.expiresAtMs - m_clock.monotonicMs() > kRenewAheadMs)) {
        QTimer::singleShot(0, this, [done = std::move(done), token = cached->second.accessToken] {
            done({token, {}, false});
        });
        return;
    }
    refresh(login, std::move(done));
}

void AccessTokens::runCommand(const Login& login, TokenDone done)
{
    auto slot = std::make_shared<platform::PendingOperation*>(nullptr);
    const QPointer<AccessTokens> alive(this);
    auto operation = m_transport.runCommand(
        login.settings.tokenCommand, kCommandTimeoutMs, platform::OAuthTransport::kMaxReplyBytes,
        [this, alive, slot, done = std::move(done)](const platform::OAuthTransport::CommandResult& result) {
            if (!alive)
                return;
            // The finished command is let go from the event loop, since it is in the middle of calling back.
            const auto owned = std::find_if(m_commands.begin(), m_commands.end(),
                                            [&](const auto& command) { return command.get() == *slot; });
            if (owned != m_commands.end()) {
                auto finished = std::shared_ptr<platform::PendingOperation>(std::move(*owned));
                m_commands.erase(owned);
                QTimer::singleShot(0, this, [finished] {});
            }
            Token token;
            QString problem;
            if (!result.succeeded)
                token.error = result.error;
            else if ((token.accessToken = mail::tokenFromCommandOutput(result.output, &problem)).isEmpty())
                token.error = QStringLiteral("The token command printed no usable token: %1.").arg(problem);
            done(token);
        });
    *slot = operation.get();
    m_commands.push_back(std::move(operation));
}

void AccessTokens::refresh(const Login& login, TokenDone done)
{
    const QString key = cacheKey(login);
    auto& refresh = m_refreshes[key];
    if (refresh) {
        refresh->waiting.push_back(std::move(done));
        return;
    }
    refresh = std::make_unique<Refresh>();
    refresh->waiting.push_back(std::move(done));
    const QPointer<AccessTokens> alive(this);
    m_vault.load(oauthVaultHost(login.host), login.user, [this, alive, key, login](const QString& text, PasswordPlace) {
        if (!alive || !m_refreshes.count(key))
            return;
        const std::optional<OAuthSecrets> secrets = decodeOAuthSecrets(text);
        if (!secrets || secrets->refreshToken.isEmpty())
            return endRefresh(key, {{}, signInAgainText(login, QStringLiteral("no sign-in is kept")), true});
        if (const QString problem = mail::oauthSettingsProblem(login.settings); !problem.isEmpty())
            return endRefresh(key, {{}, problem, false});
        const mail::OAuthEndpoints endpoints = mail::oauthEndpoints(login.settings);
        m_refreshes[key]->post = m_transport.postForm(
            endpoints.token,
            mail::refreshTokenForm(secrets->refreshToken, login.settings.clientId, secrets->clientSecret,
                                   endpoints.scope),
            platform::OAuthTransport::kDefaultTimeoutMs,
            [this, key, login, secrets = *secrets](const platform::OAuthTransport::FormReply& reply) {
                refreshed(key, login, secrets, reply);
            });
    });
}

void AccessTokens::refreshed(const QString& key, const Login& login, const OAuthSecrets& secrets,
                             const platform::OAuthTransport::FormReply& reply)
{
    const mail::TokenGrant grant = mail::readTokenReply(reply.httpStatus, reply.body, reply.networkError);
    if (!grant.granted) {
        endRefresh(key, {{}, grant.signInAgain ? signInAgainText(login, grant.error) : grant.error, grant.signInAgain});
        return;
    }
    remember(key, grant.accessToken, grant.expiresInSeconds);
    // A provider that hands out a new refresh token with each renewal retires the old one: keep the new one.
    if (!grant.refreshToken.isEmpty() && grant.refreshToken != secrets.refreshToken)
        m_vault.save(oauthVaultHost(login.host), login.user,
                     encodeOAuthSecrets({secrets.clientSecret, grant.refreshToken}),
                     [](PasswordPlace, const QString&) {});
    endRefresh(key, {grant.accessToken, {}, false});
}

void AccessTokens::endRefresh(const QString& key, const Token& token)
{
    const auto found = m_refreshes.find(key);
    if (found == m_refreshes.end())
        return;
    // The post may be the one calling back: it is let go from the event loop.
    std::unique_ptr<Refresh> refresh = std::move(found->second);
    m_refreshes.erase(found);
    std::vector<TokenDone> waiting = std::move(refresh->waiting);
    QTimer::singleShot(0, this, [finished = std::shared_ptr<Refresh>(std::move(refresh))] {});
    const QPointer<AccessTokens> alive(this);
    for (const TokenDone& done : waiting) {
        done(token);
        if (!alive)
            return;
    }
}

void AccessTokens::remember(const QString& key, const QString& accessToken, qint64 expiresInSeconds)
{
    m_cache[key] = {accessToken, expiresInSeconds > 0 ? m_clock.monotonicMs() + expiresInSeconds * 1000 : 0};
}

void AccessTokens::signIn(const Login& login, const QString& clientSecret, platform::DesktopShell& shell,
                          SignInDone done)
{
    cancelSignIn();
    const auto failSoon = [this, &done](const QString& error) {
        QTimer::singleShot(0, this, [done = std::move(done), error] { done(error, PasswordPlace::Nowhere); });
    };
    if (const QString problem = mail::oauthSettingsProblem(login.settings); !problem.isEmpty())
        return failSoon(problem);
    auto signIn = std::make_unique<SignIn>();
    signIn->login = login;
    signIn->clientSecret = clientSecret;
    signIn->endpoints = mail::oauthEndpoints(login.settings);
    signIn->pkce = mail::makePkce(randomBytes(32));
    signIn->state = randomBytes(16).toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals);
    QString error;
    signIn->listener = m_transport.listenForRedirect([this](const QUrlQuery& query) { redirected(query); }, &error);
    if (!signIn->listener)
        return failSoon(QStringLiteral("The sign-in cannot wait for the browser: %1").arg(error));
    signIn->redirectUri = signIn->listener->redirectUri();
    if (signIn->endpoints.redirectToLocalhost)
        signIn->redirectUri.setHost(QStringLiteral("localhost"));
    const QUrl page = mail::authorizationRequestUrl(signIn->endpoints, login.settings.clientId, signIn->redirectUri,
                                                    signIn->state, signIn->pkce, login.user);
    signIn->done = std::move(done);
    m_signIn = std::move(signIn);
    m_signInTimer.start(kSignInTimeoutMs);
    if (!shell.openUrl(page))
        endSignIn(QStringLiteral("No web browser could be opened for the sign-in page."), PasswordPlace::Nowhere);
}

void AccessTokens::cancelSignIn()
{
    m_signInTimer.stop();
    if (m_signIn) {
        std::shared_ptr<SignIn> ended(std::move(m_signIn));
        QTimer::singleShot(0, this, [ended] {});
    }
}

void AccessTokens::redirected(const QUrlQuery& query)
{
    // A request that does not carry this sign-in's state is not the provider's answer to it; it is ignored.
    if (!m_signIn || m_signIn->post || query.queryItemValue(QStringLiteral("state")).toLatin1() != m_signIn->state)
        return;
    const QString error = query.queryItemValue(QStringLiteral("error"), QUrl::FullyDecoded);
    if (!error.isEmpty()) {
        const QString description = query.queryItemValue(QStringLiteral("error_description"), QUrl::FullyDecoded);
        endSignIn(QStringLiteral("The provider refused the sign-in: %1%2")
                      .arg(error.left(200),
                           description.isEmpty() ? QString() : QStringLiteral(" (") + description.left(300) + u')'),
                  PasswordPlace::Nowhere);
        return;
    }
    const QString code = query.queryItemValue(QStringLiteral("code"), QUrl::FullyDecoded);
    if (code.isEmpty())
        return;
    m_signIn->post =
        m_transport.postForm(m_signIn->endpoints.token,
                             mail::authorizationCodeForm(code, m_signIn->redirectUri, m_signIn->login.settings.clientId,
                                                         m_signIn->clientSecret, m_signIn->pkce.verifier),
                             platform::OAuthTransport::kDefaultTimeoutMs,
                             [this](const platform::OAuthTransport::FormReply& reply) { traded(reply); });
}

void AccessTokens::traded(const platform::OAuthTransport::FormReply& reply)
{
    const mail::TokenGrant grant = mail::readTokenReply(reply.httpStatus, reply.body, reply.networkError);
    if (!grant.granted)
        return endSignIn(grant.error, PasswordPlace::Nowhere);
    if (grant.refreshToken.isEmpty())
        return endSignIn(QStringLiteral("The provider gave no refresh token, so notifications could not renew the "
                                        "access token. Check that the scope asks for offline access."),
                         PasswordPlace::Nowhere);
    const Login login = m_signIn->login;
    remember(cacheKey(login), grant.accessToken, grant.expiresInSeconds);
    const QPointer<AccessTokens> alive(this);
    m_vault.save(oauthVaultHost(login.host), login.user,
                 encodeOAuthSecrets({m_signIn->clientSecret, grant.refreshToken}),
                 [this, alive](PasswordPlace where, const QString& failure) {
                     if (alive)
                         endSignIn(failure.isEmpty() ? QString()
                                                     : QStringLiteral("The sign-in could not be kept: %1").arg(failure),
                                   where);
                 });
}

void AccessTokens::endSignIn(const QString& error, PasswordPlace where)
{
    if (!m_signIn)
        return;
    SignInDone done = std::move(m_signIn->done);
    cancelSignIn();
    if (done)
        done(error, where);
}

void AccessTokens::signOut(const Login& login, std::function<void()> done)
{
    m_cache.erase(cacheKey(login));
    const QPointer<AccessTokens> alive(this);
    m_vault.save(oauthVaultHost(login.host), login.user, QString(),
                 [alive, done = std::move(done)](PasswordPlace, const QString&) {
                     if (alive && done)
                         done();
                 });
}

} // namespace sondrel::core
