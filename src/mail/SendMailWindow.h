#pragma once

#include "mail/SmtpSession.h"
#include "platform/Services.h"

#include <QTimer>
#include <QWidget>

#include <memory>
#include <optional>

class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QRadioButton;

namespace sondrel::mail {

// frmSendMail, "Ravelin EMailer": the e-mail settings with their file data/email.dat, and the sending of one
// e-mail per "Send Test Email" (interactive mode) or per notification (automatic mode: loaded hidden, it sends at
// once and never shows anything). The window never blocks: the SMTP dialogue runs on socket signals and timers.
// Destroying the window closes its socket and stops everything without callbacks.
class SendMailWindow : public QWidget {
    Q_OBJECT
public:
    enum class Mode { Interactive, Automatic };

    // RecordNumber is the current check number; in automatic mode it says how many result lines are attached.
    SendMailWindow(platform::Services services, QString programFolder, Mode mode, QString RecordNumber,
                   QWidget* parent = nullptr);
    ~SendMailWindow() override;

    // Fills the fields from data/email.dat; in automatic mode it then extends the message and starts sending.
    void Form_Load();

    // How long the exchange waits for each reply before it gives up (60 seconds unless changed).
    void setReplyTimeout(int milliseconds) { m_replyTimeoutMs = milliseconds; }

    // The current attempt has ended (or none was started).
    bool EmailFinished() const { return m_emailFinished; }

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

signals:
    // The send routine's attempt has ended, whatever its outcome (sent, refused, failed, timed out, no connection).
    void attemptEnded();
    // The user closed the window with "&Close" or from its title bar.
    void closedByUser();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void buildControls();
    void cmdSend_Click();
    void Command1_Click();
    void cmdClose_Click();

    void appendToMessage(const QString& text);
    QString messageForFile() const;
    SmtpFields currentFields() const;
    const QString& messageText() const;
    void onSessionFinished(const SmtpSession::Result& result);
    // The attempt ends once the disconnect delay has passed after the last reply without a further one.
    void restartLinger();
    void endAttemptSoon();
    void endAttempt();
    void updateSendButton();
    void showMessage(const QString& text);

    platform::Services m_services;
    QString m_programFolder;
    Mode m_mode;
    QString m_recordNumber;
    std::unique_ptr<SmtpSession> m_session;
    mutable std::optional<QString> m_messageText; // the message field's text, read once per change
    QTimer m_linger;
    int m_replyTimeoutMs;
    bool m_emailFinished = true;
};

} // namespace sondrel::mail
