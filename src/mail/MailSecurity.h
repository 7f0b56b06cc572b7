#pragma once

#include <QString>

#include <optional>

namespace sondrel::mail {

// How the SMTP connection is protected: not at all, upgraded with STARTTLS after the greeting, or TLS from the
// first byte.
enum class SmtpSecurity { None, StartTls, ImplicitTls };

// The port used when the host text names none: 25, 587, 465.
quint16 defaultPort(SmtpSecurity security);

// The name the e-mail window shows and the security file stores: "None", "STARTTLS", "SSL/TLS".
QString smtpSecurityName(SmtpSecurity security);

// How long the notifications of several sites watched together wait to go out as one e-mail; 0 sends each alone.
inline constexpr int kDefaultGroupSeconds = 30;
inline constexpr int kMaxGroupSeconds = 3600;

// How the login proves who the user is: with a password, or with an OAuth2 access token (SASL XOAUTH2 or
// OAUTHBEARER).
enum class LoginMethod { Password, OAuth2 };
// The names the e-mail window shows and the security file stores: "Password", "OAuth2".
QString loginMethodName(LoginMethod method);

// Who issues the access tokens: the two presets, or endpoints the user names.
enum class OAuthProvider { Microsoft, Google, Custom };
// "Microsoft", "Google", "Custom".
QString oauthProviderName(OAuthProvider provider);

// Where an OAuth2 login gets its access tokens. The client secret and the refresh token are kept apart, where
// passwords are kept (see core::AccessTokens).
struct OAuthSettings {
    OAuthProvider provider = OAuthProvider::Microsoft;
    QString clientId;
    // Used by Custom only; the presets bring their own.
    QString authorizationUrl;
    QString tokenUrl;
    QString scope;
    // When not empty, the access token is what this command prints, and no browser sign-in is used.
    QString tokenCommand;
    friend bool operator==(const OAuthSettings&, const OAuthSettings&) = default;
};

// The connection security, the login name and the grouping of notifications. The password is kept apart (see
// core::PasswordVault).
struct MailSecurity {
    MailSecurity() = default;
    MailSecurity(SmtpSecurity security, QString user = {}, int groupSeconds = kDefaultGroupSeconds)
        : security(security)
        , user(std::move(user))
        , groupSeconds(groupSeconds)
    {
    }
    SmtpSecurity security = SmtpSecurity::None;
    QString user; // empty: no login
    int groupSeconds = kDefaultGroupSeconds;
    LoginMethod login = LoginMethod::Password;
    OAuthSettings oauth; // used when login is OAuth2
    friend bool operator==(const MailSecurity&, const MailSecurity&) = default;
};

// programFolder/data/mailsecurity.ini: UTF-8 lines "security=<name>", "user=<login name>", when it is not the
// default "groupSeconds=<0 to 3600>", and with an OAuth2 login "login=OAuth2", "provider=<name>", "clientId=",
// "authorizationUrl=", "tokenUrl=", "scope=" and "tokenCommand=" (each only when not empty). It lies beside
// data/email.dat, whose fixed record has no room for these values and is never touched here.
class MailSecurityFile {
public:
    explicit MailSecurityFile(QString programFolder);

    QString path() const;

    // A missing file means None with no login. A damaged value (unknown name, text that is not UTF-8, a number out
    // of its range) reads as its default and unknown lines are skipped. Fails, with the system's reason, only when the
    // file exists and cannot be read.
    std::optional<MailSecurity> load(QString* error = nullptr) const;
    // Replaces the whole file at once, so a failed save leaves the earlier settings whole. A value holding a
    // line break cannot be stored and fails the save, as does a grouping time out of its range. The grouping line
    // is written only when it differs from the default, and the OAuth2 lines only with an OAuth2 login, so that a
    // file saved with the defaults keeps its bytes.
    bool save(const MailSecurity& settings, QString* error = nullptr) const;

private:
    QString m_programFolder;
};

} // namespace sondrel::mail
