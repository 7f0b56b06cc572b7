#pragma once

#include "core/AccessTokens.h"
#include "core/MailDelivery.h"
#include "core/PasswordVault.h"
#include "platform/Services.h"

#include <QWidget>

#include <memory>
#include <optional>

class QComboBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QRadioButton;

namespace sondrel::app {

// frmSendMail, "Ravelin EMailer": the e-mail settings with their file data/email.dat, and a test e-mail per
// "Send Test Email". The window never blocks: the delivery runs on socket signals and timers. Closing or
// destroying the window ends an exchange under way silently.
class SendMailWindow : public QWidget {
    Q_OBJECT
public:
    SendMailWindow(platform::Services services, QString programFolder, QWidget* parent = nullptr);
    ~SendMailWindow() override;

    // Fills the fields from data/email.dat.
    void Form_Load();

    // How long the exchange waits for each reply before it gives up (60 seconds unless changed).
    void setReplyTimeout(int milliseconds) { m_replyTimeoutMs = milliseconds; }

    // The current attempt has ended (or none was started).
    bool EmailFinished() const { return m_emailFinished; }

signals:
    // The send routine's attempt has ended, whatever its outcome (sent, refused, failed, timed out, no connection).
    void attemptEnded();
    // The user closed the window with "&Close" or from its title bar.
    void closedByUser();
    // "Save" stored the settings, with this grouping time for the notifications of sites watched together.
    void groupSecondsSaved(int seconds);

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void buildControls();
    void cmdSend_Click();
    void Command1_Click();
    void cmdClose_Click();

    void appendToMessage(const QString& text);
    QString messageForFile() const;
    mail::SmtpFields currentFields() const;
    const QString& messageText() const;
    void onExchangeEnded(const core::MailDelivery::Result& result);
    void offerToTrust(const core::MailDelivery::Result& result);
    void loadPassword();
    void cmdSignIn_Click();
    void loadSignIn();
    void showSignIn(const QString& text);
    void updateLoginControls();
    mail::OAuthSettings currentOAuthSettings() const;
    core::AccessTokens::Login currentLogin() const;
    bool usesOAuth() const;
    void saveClientSecret();
    void showPasswordPlace(core::PasswordPlace place);
    // The host name and port the e-mail goes to, as the host field and the security choice give them.
    std::pair<QString, quint16> endpoint() const;
    void dropDelivery();
    void updateSendButton();
    void showMessage(const QString& text);

    QLineEdit* txtHost = nullptr;
    QLineEdit* txtSenderName = nullptr;
    QLineEdit* txtSender = nullptr;
    QLineEdit* txtRecipientName = nullptr;
    QLineEdit* txtRecipient = nullptr;
    QLineEdit* txtSubject = nullptr;
    QPlainTextEdit* txtMessage = nullptr;
    QPushButton* cmdSend = nullptr;    // "Send Test Email"
    QRadioButton* Option1_0 = nullptr; // Attach Log "Yes"
    QRadioButton* Option1_1 = nullptr; // Attach Log "No"
    QLineEdit* Text1 = nullptr;        // disconnect delay in seconds
    QPushButton* Command1 = nullptr;   // "Save"
    QPushButton* cmdClose = nullptr;   // "&Close"
    QComboBox* cboSecurity = nullptr;  // "None", "STARTTLS", "SSL/TLS"
    QLineEdit* txtUser = nullptr;
    QLineEdit* txtPassword = nullptr;
    QLabel* lblPasswordPlace = nullptr;   // where the password is kept
    QLineEdit* txtGroupSeconds = nullptr; // "Group changes within seconds", 0 to 3600
    QComboBox* cboLogin = nullptr;        // "Password", "OAuth2"
    QComboBox* cboProvider = nullptr;     // "Microsoft", "Google", "Custom"
    QLineEdit* txtClientId = nullptr;
    QLineEdit* txtClientSecret = nullptr;
    QPushButton* cmdSignIn = nullptr;         // "Sign In", the browser sign-in
    QLineEdit* txtAuthorizationUrl = nullptr; // Custom only
    QLineEdit* txtTokenUrl = nullptr;
    QLineEdit* txtScope = nullptr;
    QLineEdit* txtTokenCommand = nullptr; // prints the access token; used instead of the sign-in when set
    QLabel* lblSignIn = nullptr;          // whether a sign-in is kept, and where

    platform::Services m_services;
    QString m_programFolder;
    core::PasswordVault m_passwords;
    core::AccessTokens m_tokens;
    QString m_accessToken;                        // the OAuth2 access token of the test e-mail under way
    core::MailDelivery* m_delivery = nullptr;     // owned as a child; the current or last attempt
    mutable std::optional<QString> m_messageText; // the message field's text, read once per change
    int m_replyTimeoutMs;
    bool m_emailFinished = true;
};

} // namespace sondrel::app
