#include "app/SendMailWindow.h"

#include "app/FormGeometry.h"
#include "core/DeliveryStarter.h"
#include "mail/EmailSettings.h"
#include "mail/MailSecurity.h"
#include "mail/NotificationMessage.h"
#include "mail/OAuth2.h"
#include "mail/TrustedCertificates.h"
#include "platform/NumberText.h"
#include "store/FixedText.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QGroupBox>
#include <QIntValidator>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTextCursor>

namespace sondrel::app {

namespace {

using namespace sondrel::mail;

QLabel* label(QWidget* parent, const char* name, const QString& caption, QRect geometry, bool bold = false)
{
    auto* widget = place(new QLabel(caption, parent), name, geometry);
    QFont font = widget->font();
    font.setBold(bold);
    widget->setFont(font);
    return widget;
}

QGroupBox* frame(QWidget* parent, const char* name, const QString& caption, QRect geometry, bool bold)
{
    auto* widget = place(new QGroupBox(caption, parent), name, geometry);
    QFont font = widget->font();
    font.setBold(bold);
    widget->setFont(font);
    return widget;
}

// Children of a bold frame keep the window's normal font.
template <typename Widget> Widget* normal(Widget* widget)
{
    QFont font = widget->font();
    font.setBold(false);
    widget->setFont(font);
    return widget;
}

} // namespace

SendMailWindow::SendMailWindow(platform::Services services, QString programFolder, QWidget* parent)
    : QWidget(parent, Qt::Window)
    , m_services(services)
    , m_programFolder(std::move(programFolder))
    , m_passwords(services.secrets, m_programFolder)
    , m_tokens(services.oauth, services.clock, m_passwords)
    , m_replyTimeoutMs(SmtpSession::kReplyTimeoutMs)
{
    setObjectName(QStringLiteral("frmSendMail"));
    setWindowTitle(QStringLiteral("Ravelin EMailer"));
    buildControls();
}

SendMailWindow::~SendMailWindow()
{
    dropDelivery();
}

void SendMailWindow::buildControls()
{
    setFixedSize(442, 636);

    label(this, "Label1", QStringLiteral("SMTP Host:"), twips(360, 120, 1035, 195), true);
    txtHost = place(new QLineEdit(this), "txtHost", twips(1875, 120, 3015, 285));

    auto* sender = frame(this, "Frame1", QStringLiteral("Sender:"), twips(240, 480, 4725, 975), true);
    normal(label(sender, "Label2", QStringLiteral("Name:"), twips(120, 285, 1455, 195)));
    txtSenderName = normal(place(new QLineEdit(sender), "txtSenderName", twips(1635, 240, 3015, 285)));
    normal(label(sender, "Label3", QStringLiteral("E-mail address:"), twips(120, 645, 1065, 195)));
    txtSender = normal(place(new QLineEdit(sender), "txtSender", twips(1635, 600, 3015, 285)));

    auto* recipient = frame(this, "Frame2", QStringLiteral("Recipient:"), twips(240, 1560, 4725, 975), true);
    normal(label(recipient, "Label4", QStringLiteral("Name:"), twips(120, 285, 1335, 195)));
    txtRecipientName = normal(place(new QLineEdit(recipient), "txtRecipientName", twips(1635, 240, 3015, 285)));
    normal(label(recipient, "Label5", QStringLiteral("E-mail address:"), twips(120, 645, 1305, 195)));
    txtRecipient = normal(place(new QLineEdit(recipient), "txtRecipient", twips(1635, 600, 3015, 285)));

    label(this, "Label6", QStringLiteral("Subject:"), twips(330, 2640, 720, 195), true);
    txtSubject = place(new QLineEdit(this), "txtSubject", twips(1875, 2640, 3015, 285));

    txtMessage = place(new QPlainTextEdit(this), "txtMessage", twips(120, 3000, 6375, 1335));
    txtMessage->setTabChangesFocus(true);
    connect(txtMessage, &QPlainTextEdit::textChanged, this, [this] { m_messageText.reset(); });

    cmdSend = place(new QPushButton(QStringLiteral("Send Test Email"), this), "cmdSend", twips(5040, 120, 1455, 855));

    auto* attach = frame(this, "Frame3", QStringLiteral("Attach Log"), twips(5040, 1200, 1455, 735), false);
    Option1_0 = place(new QRadioButton(QStringLiteral("Yes"), attach), "Option1_0", twips(120, 240, 615, 255));
    Option1_1 = place(new QRadioButton(QStringLiteral("No"), attach), "Option1_1", twips(720, 240, 615, 255));
    Option1_1->setChecked(true);

    auto* delay = label(this, "Label7", QStringLiteral("Disconnect Delay"), twips(5040, 2280, 855, 495));
    delay->setWordWrap(true);
    Text1 = place(new QLineEdit(QStringLiteral("5"), this), "Text1", twips(6000, 2280, 495, 375));

    Command1 = place(new QPushButton(QStringLiteral("Save"), this), "Command1", twips(1920, 4440, 1215, 375));
    cmdClose = place(new QPushButton(QStringLiteral("&Close"), this), "cmdClose", twips(3360, 4440, 1215, 375));

    // Connection security and login, below the original controls so that those keep their places.
    label(this, "lblSecurity", QStringLiteral("Security:"), twips(360, 4980, 1035, 195), true);
    cboSecurity = place(new QComboBox(this), "cboSecurity", twips(1875, 4920, 1455, 315));
    for (const SmtpSecurity security : {SmtpSecurity::None, SmtpSecurity::StartTls, SmtpSecurity::ImplicitTls})
        cboSecurity->addItem(smtpSecurityName(security));
    label(this, "lblUser", QStringLiteral("User name:"), twips(360, 5400, 1395, 195), true);
    txtUser = place(new QLineEdit(this), "txtUser", twips(1875, 5355, 3015, 285));
    label(this, "lblPassword", QStringLiteral("Password:"), twips(360, 5790, 1395, 195), true);
    txtPassword = place(new QLineEdit(this), "txtPassword", twips(1875, 5745, 3015, 285));
    txtPassword->setEchoMode(QLineEdit::Password);
    lblPasswordPlace = label(this, "lblPasswordPlace", QString(), twips(360, 6120, 6135, 195));
    lblPasswordPlace->setWordWrap(true);
    // The grouping of notifications to the right of the login, in room the window already has.
    auto* group =
        label(this, "lblGroupSeconds", QStringLiteral("Group changes within seconds"), twips(5040, 4920, 1455, 420));
    group->setWordWrap(true);
    txtGroupSeconds = place(new QLineEdit(QString::number(kDefaultGroupSeconds), this), "txtGroupSeconds",
                            twips(5040, 5355, 615, 285));
    txtGroupSeconds->setValidator(new QIntValidator(0, kMaxGroupSeconds, txtGroupSeconds));
    txtGroupSeconds->setToolTip(QStringLiteral("While several sites are watched, their changes within this many "
                                               "seconds go out as one e-mail; 0 sends each change alone."));

    // The OAuth2 login below the password, in rows of its own.
    label(this, "lblLogin", QStringLiteral("Login:"), twips(360, 6540, 1035, 195), true);
    cboLogin = place(new QComboBox(this), "cboLogin", twips(1875, 6480, 1455, 315));
    for (const LoginMethod method : {LoginMethod::Password, LoginMethod::OAuth2})
        cboLogin->addItem(loginMethodName(method));
    label(this, "lblProvider", QStringLiteral("Provider:"), twips(3480, 6540, 900, 195), true);
    cboProvider = place(new QComboBox(this), "cboProvider", twips(4440, 6480, 2055, 315));
    for (const OAuthProvider provider : {OAuthProvider::Microsoft, OAuthProvider::Google, OAuthProvider::Custom})
        cboProvider->addItem(oauthProviderName(provider));
    const auto row = [this](const char* labelName, const QString& caption, const char* name, int top, int width) {
        label(this, labelName, caption, twips(360, top + 45, 1500, 195), true);
        return place(new QLineEdit(this), name, twips(1875, top, width, 285));
    };
    txtClientId = row("lblClientId", QStringLiteral("Client ID:"), "txtClientId", 6900, 4620);
    txtClientSecret = row("lblClientSecret", QStringLiteral("Client secret:"), "txtClientSecret", 7260, 3015);
    txtClientSecret->setEchoMode(QLineEdit::Password);
    txtClientSecret->setPlaceholderText(QStringLiteral("only if the provider gave one"));
    cmdSignIn = place(new QPushButton(QStringLiteral("Sign In"), this), "cmdSignIn", twips(5040, 7230, 1455, 345));
    txtAuthorizationUrl =
        row("lblAuthorizationUrl", QStringLiteral("Authorization URL:"), "txtAuthorizationUrl", 7620, 4620);
    txtTokenUrl = row("lblTokenUrl", QStringLiteral("Token URL:"), "txtTokenUrl", 7980, 4620);
    txtScope = row("lblScope", QStringLiteral("Scope:"), "txtScope", 8340, 4620);
    txtTokenCommand = row("lblTokenCommand", QStringLiteral("Token command:"), "txtTokenCommand", 8700, 4620);
    txtTokenCommand->setPlaceholderText(QStringLiteral("optional: a command that prints an access token"));
    txtTokenCommand->setToolTip(QStringLiteral("When set, the access token is what this command prints on standard "
                                               "output, and no browser sign-in is used. It runs without a shell."));
    lblSignIn = label(this, "lblSignIn", QString(), twips(360, 9060, 6135, 390));
    lblSignIn->setWordWrap(true);
    connect(cboLogin, &QComboBox::currentIndexChanged, this, &SendMailWindow::updateLoginControls);
    connect(cboProvider, &QComboBox::currentIndexChanged, this, &SendMailWindow::updateLoginControls);
    connect(txtTokenCommand, &QLineEdit::textChanged, this, &SendMailWindow::updateLoginControls);
    connect(cmdSignIn, &QPushButton::clicked, this, &SendMailWindow::cmdSignIn_Click);
    updateLoginControls();

    const QList<QWidget*> tabOrder = {
        txtHost,     txtSenderName,  txtSender,       txtRecipientName, txtRecipient,        txtSubject,
        txtMessage,  Command1,       cmdSend,         cmdClose,         Option1_0,           Option1_1,
        Text1,       cboSecurity,    txtUser,         txtPassword,      txtGroupSeconds,     cboLogin,
        cboProvider, txtClientId,    txtClientSecret, cmdSignIn,        txtAuthorizationUrl, txtTokenUrl,
        txtScope,    txtTokenCommand};
    for (qsizetype i = 1; i < tabOrder.size(); ++i)
        setTabOrder(tabOrder[i - 1], tabOrder[i]);

    connect(cmdSend, &QPushButton::clicked, this, &SendMailWindow::cmdSend_Click);
    connect(Command1, &QPushButton::clicked, this, &SendMailWindow::Command1_Click);
    connect(cmdClose, &QPushButton::clicked, this, &SendMailWindow::cmdClose_Click);
}

void SendMailWindow::Form_Load()
{
    const EmailSettingsFile file(m_programFolder);
    QString error;
    std::optional<EmailSettings> loaded = file.load(&error);
    if (!loaded) {
        m_services.messages.show(
            QStringLiteral("The e-mail settings could not be read from %1: %2").arg(file.path(), error),
            platform::applicationTitle(), platform::MessageIcon::Exclamation);
    }
    const EmailSettings settings = loaded ? *loaded : decodeEmailSettings(QByteArray(kEmailRecordLength, '\0'));
    txtHost->setText(settings.SmtpHost);
    txtSenderName->setText(settings.SenderName.isEmpty() ? QStringLiteral("Ravelin") : settings.SenderName);
    txtSender->setText(settings.SenderAddress);
    txtRecipientName->setText(settings.RecipientName);
    txtRecipient->setText(settings.RecipientAddress);
    txtSubject->setText(settings.Subject.isEmpty() ? QStringLiteral("Ravelin Notification") : settings.Subject);
    txtMessage->setPlainText(settings.MessageBody);
    (store::isTrue(settings.AttachLog) ? Option1_0 : Option1_1)->setChecked(true);
    Text1->setText(QString::number(settings.DisconnectDelay));

    const MailSecurityFile securityFile(m_programFolder);
    const std::optional<MailSecurity> security = securityFile.load(&error);
    if (!security) {
        m_services.messages.show(
            QStringLiteral("The e-mail settings could not be read from %1: %2").arg(securityFile.path(), error),
            platform::applicationTitle(), platform::MessageIcon::Exclamation);
    }
    const MailSecurity kept = security.value_or(MailSecurity{});
    cboSecurity->setCurrentIndex(int(kept.security));
    txtUser->setText(kept.user);
    txtGroupSeconds->setText(QString::number(kept.groupSeconds));
    cboLogin->setCurrentIndex(int(kept.login));
    cboProvider->setCurrentIndex(int(kept.oauth.provider));
    txtClientId->setText(kept.oauth.clientId);
    txtAuthorizationUrl->setText(kept.oauth.authorizationUrl);
    txtTokenUrl->setText(kept.oauth.tokenUrl);
    txtScope->setText(kept.oauth.scope);
    txtTokenCommand->setText(kept.oauth.tokenCommand);
    loadPassword();
    loadSignIn();
}

bool SendMailWindow::usesOAuth() const
{
    return cboLogin->currentIndex() == int(LoginMethod::OAuth2);
}

OAuthSettings SendMailWindow::currentOAuthSettings() const
{
    OAuthSettings settings;
    settings.provider = OAuthProvider(qMax(0, cboProvider->currentIndex()));
    settings.clientId = txtClientId->text().trimmed();
    settings.authorizationUrl = txtAuthorizationUrl->text().trimmed();
    settings.tokenUrl = txtTokenUrl->text().trimmed();
    settings.scope = txtScope->text().simplified();
    settings.tokenCommand = txtTokenCommand->text().trimmed();
    return settings;
}

core::AccessTokens::Login SendMailWindow::currentLogin() const
{
    return {endpoint().first, store::trimSpaces(txtUser->text()), currentOAuthSettings()};
}

// The controls of the login method not chosen are disabled; the endpoints are the user's own for Custom only,
// and show the preset's otherwise.
void SendMailWindow::updateLoginControls()
{
    const bool oauth = usesOAuth();
    const bool custom = cboProvider->currentIndex() == int(OAuthProvider::Custom);
    const bool command = !txtTokenCommand->text().trimmed().isEmpty();
    txtPassword->setEnabled(!oauth);
    for (QWidget* widget : std::initializer_list<QWidget*>{cboProvider, txtClientId, txtClientSecret, txtTokenCommand})
        widget->setEnabled(oauth);
    cmdSignIn->setEnabled(oauth && (!command || m_tokens.signingIn()));
    OAuthSettings presetSettings;
    presetSettings.provider = OAuthProvider(qMax(0, cboProvider->currentIndex()));
    const OAuthEndpoints preset = oauthEndpoints(presetSettings);
    const std::array<std::pair<QLineEdit*, QString>, 3> endpoints{
        {{txtAuthorizationUrl, preset.authorization.toString()},
         {txtTokenUrl, preset.token.toString()},
         {txtScope, preset.scope}}};
    for (const auto& [field, presetText] : endpoints) {
        field->setEnabled(oauth && custom);
        field->setPlaceholderText(custom ? QString() : presetText);
    }
}

void SendMailWindow::loadSignIn()
{
    if (!txtTokenCommand->text().trimmed().isEmpty())
        return showSignIn(QStringLiteral("The access token comes from the token command."));
    const core::AccessTokens::Login login = currentLogin();
    if (login.user.isEmpty() || login.host.isEmpty())
        return showSignIn(QString());
    m_passwords.load(
        core::oauthVaultHost(login.host), login.user, [this](const QString& text, core::PasswordPlace where) {
            const std::optional<core::OAuthSecrets> secrets = core::decodeOAuthSecrets(text);
            txtClientSecret->setText(secrets ? secrets->clientSecret : QString());
            if (!secrets || secrets->refreshToken.isEmpty())
                return showSignIn(QStringLiteral("Not signed in. Click Sign In to sign in with the browser."));
            showSignIn(where == core::PasswordPlace::SecretStore
                           ? QStringLiteral("Signed in; the refresh token is kept in the desktop's secret store.")
                           : QStringLiteral("Signed in; the refresh token is kept in %1, readable by you only.")
                                 .arg(QDir::toNativeSeparators(m_passwords.filePath())));
        });
}

void SendMailWindow::showSignIn(const QString& text)
{
    lblSignIn->setText(text);
}

// Signs in with the browser, or gives up the sign-in under way.
void SendMailWindow::cmdSignIn_Click()
{
    if (m_tokens.signingIn()) {
        m_tokens.cancelSignIn();
        cmdSignIn->setText(QStringLiteral("Sign In"));
        loadSignIn();
        updateLoginControls();
        return;
    }
    const core::AccessTokens::Login login = currentLogin();
    if (login.host.isEmpty() || login.user.isEmpty()) {
        showMessage(QStringLiteral("Enter the SMTP host and the user name (the account's e-mail address) before "
                                   "signing in."));
        return;
    }
    if (const QString problem = oauthSettingsProblem(login.settings); !problem.isEmpty()) {
        showMessage(problem);
        return;
    }
    cmdSignIn->setText(QStringLiteral("Cancel Sign In"));
    showSignIn(QStringLiteral("Waiting for the browser: sign in there and allow the access asked for."));
    m_tokens.signIn(login, txtClientSecret->text(), m_services.shell,
                    [this](const QString& error, core::PasswordPlace) {
                        cmdSignIn->setText(QStringLiteral("Sign In"));
                        updateLoginControls();
                        loadSignIn();
                        if (!error.isEmpty())
                            m_services.messages.show(QStringLiteral("The sign-in failed: ") + error,
                                                     platform::applicationTitle(), platform::MessageIcon::Exclamation);
                    });
    updateLoginControls();
}

void SendMailWindow::loadPassword()
{
    txtPassword->clear();
    showPasswordPlace(core::PasswordPlace::Nowhere);
    if (store::trimSpaces(txtUser->text()).isEmpty())
        return;
    m_passwords.load(endpoint().first, store::trimSpaces(txtUser->text()),
                     [this](const QString& password, core::PasswordPlace where) {
                         txtPassword->setText(password);
                         showPasswordPlace(where);
                     });
}

void SendMailWindow::showPasswordPlace(core::PasswordPlace place)
{
    lblPasswordPlace->setText(core::passwordPlaceSentence(place, m_passwords.filePath()));
}

std::pair<QString, quint16> SendMailWindow::endpoint() const
{
    const SmtpEndpoint parsed = parseSmtpHost(txtHost->text());
    const auto security = SmtpSecurity(qMax(0, cboSecurity->currentIndex()));
    return {parsed.host, parsed.portText.isEmpty() ? defaultPort(security) : parsed.port};
}

void SendMailWindow::cmdSend_Click()
{
    if (!m_emailFinished || (m_delivery && !m_delivery->exchangeOver()))
        return;
    m_emailFinished = false;
    // The previous delivery is over, but it may still be unwinding from the signal that ended it.
    dropDelivery();
    m_delivery = new core::MailDelivery(
        m_services, [this] { return currentFields(); }, [this] { return platform::leadingNumber(Text1->text()); },
        this);
    m_delivery->setReplyTimeout(m_replyTimeoutMs);
    connect(m_delivery, &core::MailDelivery::exchangeEnded, this, &SendMailWindow::onExchangeEnded);
    connect(m_delivery, &core::MailDelivery::attemptEnded, this, [this] {
        m_emailFinished = true;
        updateSendButton();
        emit attemptEnded();
    });
    // The message is read when the server asks for it, so the separator still goes with this e-mail.
    if (usesOAuth() && !store::trimSpaces(txtUser->text()).isEmpty()) {
        m_accessToken.clear();
        core::startWithAccessToken(m_tokens, currentLogin(), m_delivery,
                                   [this](const QString& accessToken) { m_accessToken = accessToken; });
        if (Option1_0->isChecked())
            appendToMessage(withSendSeparator(QString()));
    } else if (m_delivery->start() && Option1_0->isChecked()) {
        appendToMessage(withSendSeparator(QString()));
    }
    updateSendButton();
}

void SendMailWindow::Command1_Click()
{
    const EmailSettingsFile file(m_programFolder);
    QString error;
    if (!file.load(&error)) {
        m_services.messages.show(
            QStringLiteral("The e-mail settings could not be saved to %1: %2").arg(file.path(), error),
            platform::applicationTitle(), platform::MessageIcon::Exclamation);
        return;
    }
    EmailSettings settings;
    settings.SmtpHost = store::trimSpaces(txtHost->text());
    settings.SenderName = store::trimSpaces(txtSenderName->text());
    settings.SenderAddress = store::trimSpaces(txtSender->text());
    settings.RecipientName = store::trimSpaces(txtRecipientName->text());
    settings.RecipientAddress = store::trimSpaces(txtRecipient->text());
    settings.Subject = store::trimSpaces(txtSubject->text());
    const QString missing = missingValueMessage(settings);
    if (!missing.isEmpty()) {
        showMessage(missing);
        return;
    }
    bool groupSecondsRead = false;
    const int groupSeconds = txtGroupSeconds->text().trimmed().toInt(&groupSecondsRead);
    if (!groupSecondsRead || groupSeconds < 0 || groupSeconds > kMaxGroupSeconds) {
        showMessage(
            QStringLiteral("Group changes within seconds must be a whole number from 0 to %1.").arg(kMaxGroupSeconds));
        return;
    }
    settings.MessageBody = store::trimSpaces(messageForFile());
    settings.AttachLog = store::storedBool(Option1_0->isChecked());
    settings.DisconnectDelay = disconnectDelayValue(Text1->text());
    if (!file.save(settings, &error)) {
        m_services.messages.show(
            QStringLiteral("The e-mail settings could not be saved to %1: %2").arg(file.path(), error),
            platform::applicationTitle(), platform::MessageIcon::Exclamation);
        return;
    }
    const MailSecurityFile securityFile(m_programFolder);
    MailSecurity security{SmtpSecurity(qMax(0, cboSecurity->currentIndex())), store::trimSpaces(txtUser->text()),
                          groupSeconds};
    security.login = LoginMethod(qMax(0, cboLogin->currentIndex()));
    security.oauth = currentOAuthSettings();
    if (!securityFile.save(security, &error)) {
        m_services.messages.show(
            QStringLiteral("The e-mail settings could not be saved to %1: %2").arg(securityFile.path(), error),
            platform::applicationTitle(), platform::MessageIcon::Exclamation);
        return;
    }
    emit groupSecondsSaved(security.groupSeconds);
    if (!security.user.isEmpty() && security.login == LoginMethod::OAuth2) {
        saveClientSecret();
    } else if (!security.user.isEmpty()) {
        m_passwords.save(endpoint().first, security.user, txtPassword->text(),
                         [this](core::PasswordPlace where, const QString& failure) {
                             showPasswordPlace(where);
                             if (!failure.isEmpty())
                                 m_services.messages.show(QStringLiteral("The password could not be saved to %1: %2")
                                                              .arg(m_passwords.filePath(), failure),
                                                          platform::applicationTitle(),
                                                          platform::MessageIcon::Exclamation);
                         });
    }
    showMessage(QStringLiteral("Saved"));
}

// A client secret changed after the sign-in is kept beside its refresh token.
void SendMailWindow::saveClientSecret()
{
    const core::AccessTokens::Login login = currentLogin();
    const QString clientSecret = txtClientSecret->text();
    m_passwords.load(core::oauthVaultHost(login.host), login.user,
                     [this, login, clientSecret](const QString& text, core::PasswordPlace) {
                         std::optional<core::OAuthSecrets> secrets = core::decodeOAuthSecrets(text);
                         if (!secrets || secrets->refreshToken.isEmpty() || secrets->clientSecret == clientSecret)
                             return;
                         secrets->clientSecret = clientSecret;
                         m_passwords.save(core::oauthVaultHost(login.host), login.user,
                                          core::encodeOAuthSecrets(*secrets),
                                          [](core::PasswordPlace, const QString&) {});
                     });
}

void SendMailWindow::cmdClose_Click()
{
    close();
}

void SendMailWindow::closeEvent(QCloseEvent* event)
{
    // Closing ends any exchange under way, silently, as unloading the window does.
    dropDelivery();
    m_emailFinished = true;
    updateSendButton();
    event->accept();
    emit closedByUser();
}

// A certificate no authority vouches for may still be the one the user expects, such as a local mail bridge's:
// the user may trust exactly this one for this host and port. The default answer declines.
void SendMailWindow::offerToTrust(const core::MailDelivery::Result& result)
{
    const auto [host, port] = endpoint();
    const QString question =
        QStringLiteral("The server's certificate was not accepted:\n%1\n\nIts SHA-256 fingerprint is\n%2\n\n"
                       "Trust exactly this certificate for %3 port %4 from now on? Answer Yes only if you know it is "
                       "your server's own.")
            .arg(result.text, certificateFingerprint(result.certificate), host)
            .arg(port);
    if (result.certificate.isEmpty() ||
        !m_services.messages.ask(question, QStringLiteral("Certificate Error"), platform::MessageIcon::Exclamation))
        return;
    QString error;
    TrustedCertificates trusted(m_programFolder);
    if (!trusted.trust(host, port, result.certificate, &error))
        m_services.messages.show(
            QStringLiteral("The certificate could not be saved to %1: %2").arg(trusted.path(), error),
            platform::applicationTitle(), platform::MessageIcon::Exclamation);
}

// Ends the delivery without a word. It may be emitting right now, so it goes from the event loop.
void SendMailWindow::dropDelivery()
{
    if (!m_delivery)
        return;
    m_delivery->disconnect(this);
    m_delivery->deleteLater();
    m_delivery = nullptr;
}

void SendMailWindow::appendToMessage(const QString& text)
{
    QTextCursor cursor(txtMessage->document());
    cursor.movePosition(QTextCursor::End);
    cursor.insertText(text);
}

// The field shows line breaks as single characters; the file keeps them as CR LF.
QString SendMailWindow::messageForFile() const
{
    QString text = messageText();
    text.replace(u'\n', QStringLiteral("\r\n"));
    return text;
}

SmtpFields SendMailWindow::currentFields() const
{
    SmtpFields fields;
    fields.host = txtHost->text();
    fields.message.senderName = txtSenderName->text();
    fields.message.senderAddress = txtSender->text();
    fields.message.recipientName = txtRecipientName->text();
    fields.message.recipientAddress = txtRecipient->text();
    fields.message.subject = txtSubject->text();
    fields.message.text = messageText();
    fields.security = SmtpSecurity(qMax(0, cboSecurity->currentIndex()));
    fields.user = store::trimSpaces(txtUser->text());
    fields.password = usesOAuth() ? QString() : txtPassword->text();
    fields.login = LoginMethod(qMax(0, cboLogin->currentIndex()));
    fields.accessToken = m_accessToken;
    const auto [host, port] = endpoint();
    fields.trustedCertificate = TrustedCertificates(m_programFolder).certificateFor(host, port);
    return fields;
}

const QString& SendMailWindow::messageText() const
{
    if (!m_messageText)
        m_messageText = txtMessage->toPlainText();
    return *m_messageText;
}

void SendMailWindow::onExchangeEnded(const core::MailDelivery::Result& result)
{
    using Outcome = core::MailDelivery::Outcome;
    updateSendButton();
    switch (result.outcome) {
    case Outcome::Sent: {
        QString text = QStringLiteral("Message sent successfuly.");
        if (!result.refusedRecipients.isEmpty())
            text += QStringLiteral("\n\nThe server refused these recipients:\n") + result.refusedRecipients.join(u'\n');
        m_services.messages.show(text, platform::applicationTitle(), platform::MessageIcon::Information);
        break;
    }
    case Outcome::CertificateRejected:
        offerToTrust(result);
        break;
    case Outcome::ServerError:
        m_services.messages.show(QStringLiteral("SMTP Error: ") + result.text, QStringLiteral("SMTP Error"),
                                 platform::MessageIcon::Information);
        break;
    case Outcome::SocketError:
        m_services.messages.show(QStringLiteral("Winsock Error number %1\n%2").arg(result.errorNumber).arg(result.text),
                                 QStringLiteral("Winsock Error"), platform::MessageIcon::Exclamation);
        break;
    case Outcome::NoConnection:
        showMessage(QStringLiteral("Please open an internet connection."));
        break;
    case Outcome::NoAccessToken:
        m_services.messages.show(QStringLiteral("No OAuth2 access token could be had: ") + result.text,
                                 platform::applicationTitle(), platform::MessageIcon::Exclamation);
        loadSignIn();
        break;
    case Outcome::ClosedAfterQuit:
        break;
    }
}

void SendMailWindow::updateSendButton()
{
    cmdSend->setEnabled(m_emailFinished && !(m_delivery && !m_delivery->exchangeOver()));
}

void SendMailWindow::showMessage(const QString& text)
{
    m_services.messages.show(text, platform::applicationTitle(), platform::MessageIcon::None);
}

} // namespace sondrel::app
