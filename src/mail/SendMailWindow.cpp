#include "mail/SendMailWindow.h"

#include "mail/EmailSettings.h"
#include "mail/NotificationMessage.h"
#include "platform/FormGeometry.h"
#include "platform/NumberText.h"
#include "store/FixedText.h"
#include "store/LogFiles.h"
#include "store/RecordFile.h"

#include <QCloseEvent>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTextCursor>

namespace sondrel::mail {

namespace {

using platform::place;
using platform::twips;

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

SendMailWindow::SendMailWindow(platform::Services services, QString programFolder, Mode mode, QString RecordNumber,
                               QWidget* parent)
    : QWidget(parent, Qt::Window)
    , m_services(services)
    , m_programFolder(std::move(programFolder))
    , m_mode(mode)
    , m_recordNumber(std::move(RecordNumber))
    , m_replyTimeoutMs(SmtpSession::kReplyTimeoutMs)
{
    setObjectName(QStringLiteral("frmSendMail"));
    setWindowTitle(QStringLiteral("Ravelin EMailer"));
    buildControls();
    // A hidden notification is never edited; without undo its long attached log costs less to append.
    txtMessage->setUndoRedoEnabled(m_mode == Mode::Interactive);
    m_linger.setSingleShot(true);
    connect(&m_linger, &QTimer::timeout, this, &SendMailWindow::endAttempt);
}

SendMailWindow::~SendMailWindow()
{
    m_linger.stop();
    m_session.reset();
}

void SendMailWindow::buildControls()
{
    setFixedSize(442, 327);

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

    const QList<QWidget*> tabOrder = {txtHost,    txtSenderName, txtSender, txtRecipientName, txtRecipient,
                                      txtSubject, txtMessage,    Command1,  cmdSend,          cmdClose,
                                      Option1_0,  Option1_1,     Text1};
    for (qsizetype i = 1; i < tabOrder.size(); ++i)
        setTabOrder(tabOrder[i - 1], tabOrder[i]);

    connect(cmdSend, &QPushButton::clicked, this, &SendMailWindow::cmdSend_Click);
    connect(Command1, &QPushButton::clicked, this, &SendMailWindow::Command1_Click);
    connect(cmdClose, &QPushButton::clicked, this, &SendMailWindow::cmdClose_Click);
}

void SendMailWindow::Form_Load()
{
    const store::RecordFile file(emailSettingsPath(m_programFolder), kEmailRecordLength);
    QByteArray record;
    QString error;
    const bool read = file.read(1, record, &error);
    if (!read && m_mode == Mode::Interactive) {
        m_services.messages.show(
            QStringLiteral("The e-mail settings could not be read from %1: %2").arg(file.path(), error),
            platform::applicationTitle(), platform::MessageIcon::Exclamation);
    }
    const EmailSettings settings = decodeEmailSettings(record);
    txtHost->setText(settings.SmtpHost);
    txtSenderName->setText(settings.SenderName.isEmpty() ? QStringLiteral("Ravelin") : settings.SenderName);
    txtSender->setText(settings.SenderAddress);
    txtRecipientName->setText(settings.RecipientName);
    txtRecipient->setText(settings.RecipientAddress);
    txtSubject->setText(settings.Subject.isEmpty() ? QStringLiteral("Ravelin Notification") : settings.Subject);
    txtMessage->setPlainText(settings.MessageBody);
    (store::isTrue(settings.AttachLog) ? Option1_0 : Option1_1)->setChecked(true);
    Text1->setText(QString::number(settings.DisconnectDelay));

    if (m_mode != Mode::Automatic)
        return;
    if (!read) {
        // Without its settings a notification has nowhere to go.
        m_emailFinished = false;
        endAttemptSoon();
        return;
    }
    if (Option1_0->isChecked())
        appendToMessage(withLoadSeparator(QString()));
    cmdSend_Click();
}

void SendMailWindow::cmdSend_Click()
{
    if (!m_emailFinished || (m_session && m_session->isActive()))
        return;
    m_emailFinished = false;
    updateSendButton();
    if (!m_services.connection.attemptConnect()) {
        if (m_mode == Mode::Interactive)
            showMessage(QStringLiteral("Please open an internet connection."));
        endAttemptSoon();
        return;
    }
    if (Option1_0->isChecked()) {
        QString extension = withSendSeparator(QString());
        if (m_mode == Mode::Automatic)
            extension += attachedLines(store::readRecordLines(m_programFolder, attachedRecordCount(m_recordNumber)));
        appendToMessage(extension);
    }

    // The previous exchange is over, but it may still be unwinding from the signal that ended it.
    if (m_session)
        m_session.release()->deleteLater();
    m_session = std::make_unique<SmtpSession>(m_services.tcp, m_services.clock, [this] { return currentFields(); });
    m_session->setReplyTimeout(m_replyTimeoutMs);
    connect(m_session.get(), &SmtpSession::finished, this, &SendMailWindow::onSessionFinished);
    connect(m_session.get(), &SmtpSession::replyHandled, this, &SendMailWindow::restartLinger);
    m_session->start();
    updateSendButton();
}

void SendMailWindow::Command1_Click()
{
    const store::RecordFile file(emailSettingsPath(m_programFolder), kEmailRecordLength);
    QByteArray record;
    QString error;
    if (!file.read(1, record, &error)) {
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
    settings.MessageBody = store::trimSpaces(messageForFile());
    settings.AttachLog = store::storedBool(Option1_0->isChecked());
    settings.DisconnectDelay = disconnectDelayValue(Text1->text());
    encodeEmailSettings(record, settings);
    if (!file.replace(1, record, &error)) {
        m_services.messages.show(
            QStringLiteral("The e-mail settings could not be saved to %1: %2").arg(file.path(), error),
            platform::applicationTitle(), platform::MessageIcon::Exclamation);
        return;
    }
    showMessage(QStringLiteral("Saved"));
}

void SendMailWindow::cmdClose_Click()
{
    close();
}

void SendMailWindow::closeEvent(QCloseEvent* event)
{
    // Closing ends any exchange under way, silently, as unloading the window does.
    m_linger.stop();
    if (m_session)
        m_session->abort();
    m_emailFinished = true;
    updateSendButton();
    event->accept();
    emit closedByUser();
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
    return fields;
}

const QString& SendMailWindow::messageText() const
{
    if (!m_messageText)
        m_messageText = txtMessage->toPlainText();
    return *m_messageText;
}

void SendMailWindow::onSessionFinished(const SmtpSession::Result& result)
{
    updateSendButton();
    if (result.outcome == SmtpSession::Outcome::SocketError)
        endAttemptSoon();
    if (m_mode != Mode::Interactive)
        return;
    switch (result.outcome) {
    case SmtpSession::Outcome::Sent:
        m_services.messages.show(QStringLiteral("Message sent successfuly."), platform::applicationTitle(),
                                 platform::MessageIcon::Information);
        break;
    case SmtpSession::Outcome::ServerError:
        m_services.messages.show(QStringLiteral("SMTP Error: ") + result.text, QStringLiteral("SMTP Error"),
                                 platform::MessageIcon::Information);
        break;
    case SmtpSession::Outcome::SocketError:
        m_services.messages.show(QStringLiteral("Winsock Error number %1\n%2").arg(result.errorNumber).arg(result.text),
                                 QStringLiteral("Winsock Error"), platform::MessageIcon::Exclamation);
        break;
    case SmtpSession::Outcome::ClosedAfterQuit:
        break;
    }
}

void SendMailWindow::restartLinger()
{
    if (m_emailFinished)
        return;
    const double seconds = qBound(0.0, platform::leadingNumber(Text1->text()), 32767.0);
    m_linger.start(qRound(seconds * 1000));
}

void SendMailWindow::endAttemptSoon()
{
    if (!m_emailFinished)
        m_linger.start(0);
}

void SendMailWindow::endAttempt()
{
    if (m_emailFinished)
        return;
    m_emailFinished = true;
    updateSendButton();
    // The receiver may destroy this window: nothing may follow.
    emit attemptEnded();
}

void SendMailWindow::updateSendButton()
{
    cmdSend->setEnabled(m_emailFinished && !(m_session && m_session->isActive()));
}

void SendMailWindow::showMessage(const QString& text)
{
    m_services.messages.show(text, platform::applicationTitle(), platform::MessageIcon::None);
}

} // namespace sondrel::mail
