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

// The connection security and the login name. The password is kept apart (see core::PasswordVault).
struct MailSecurity {
    SmtpSecurity security = SmtpSecurity::None;
    QString user; // empty: no login
    friend bool operator==(const MailSecurity&, const MailSecurity&) = default;
};

// programFolder/data/mailsecurity.ini: UTF-8 lines "security=<name>" and "user=<login name>". It lies beside
// data/email.dat, whose fixed record has no room for these values and is never touched here.
class MailSecurityFile {
public:
    explicit MailSecurityFile(QString programFolder);

    QString path() const;

    // A missing file means None with no login. A damaged value (unknown name, text that is not UTF-8) reads as
    // its default and unknown lines are skipped. Fails, with the system's reason, only when the file exists and
    // cannot be read.
    std::optional<MailSecurity> load(QString* error = nullptr) const;
    // Replaces the whole file at once, so a failed save leaves the earlier settings whole. A user name holding a
    // line break cannot be stored and fails the save.
    bool save(const MailSecurity& settings, QString* error = nullptr) const;

private:
    QString m_programFolder;
};

} // namespace sondrel::mail
