#include "app/SendMailWindow.h"
#include "mail/EmailSettings.h"
#include "mail/MailSecurity.h"
#include "platform/QtTcpSocket.h"
#include "support/Controls.h"
#include "support/FakeSmtpServer.h"
#include "support/Fakes.h"

#include <QDir>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace sondrel;
using namespace sondrel::mail;
using app::SendMailWindow;
using test::control;
using test::FakeSmtpServer;

namespace {

const QList<FakeSmtpServer::Reply> kNormal = FakeSmtpServer::acceptingScript();

// A program folder with data/ and logs/, the fakes, and real TCP sockets.
struct Folder {
    Folder()
    {
        QDir(dir.path()).mkpath("data");
        QDir(dir.path()).mkpath("logs");
        system.tcp = &sockets;
    }
    QString emailFile() const { return emailSettingsPath(dir.path()); }
    QByteArray emailBytes() const
    {
        QFile file(emailFile());
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
    }
    void store(const QString& host, qint16 delay = 0, bool attach = false, char reserved = 0) const
    {
        QByteArray record(kEmailRecordLength, reserved);
        encodeEmailSettings(record, {host, "Watcher", "me@example.org", "Ops", "ops@example.org", "Site status",
                                     "Stored text", qint16(attach ? -1 : 0), delay});
        QFile file(emailFile());
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(record);
    }
    std::unique_ptr<SendMailWindow> loaded()
    {
        auto window = std::make_unique<SendMailWindow>(system.services(), dir.path());
        window->Form_Load();
        return window;
    }
    QStringList shown() const { return system.messages.texts(); }

    QTemporaryDir dir;
    platform::QtTcpSocketFactory sockets;
    test::FakeSystem system;
};

QByteArray bodyOf(const QByteArray& data)
{
    return data.mid(data.indexOf("\r\n\r\n") + 4);
}

} // namespace

class TestSendMailWindow : public QObject {
    Q_OBJECT
private slots:
    void layout_placesCaptionsAndTabOrder()
    {
        Folder folder;
        QVERIFY(folder.dir.isValid());
        SendMailWindow window(folder.system.services(), folder.dir.path());
        QCOMPARE(window.windowTitle(), QStringLiteral("Ravelin EMailer"));
        // The security and login controls sit below the original ones, which keep their places.
        QCOMPARE(window.minimumSize(), QSize(442, 636));
        QCOMPARE(window.maximumSize(), QSize(442, 636));
        QVERIFY(window.findChild<QWidget*>("cboSecurity")->geometry().top() >
                window.findChild<QPushButton*>("cmdClose")->geometry().bottom());
        QCOMPARE(window.findChild<QLineEdit*>("txtPassword")->echoMode(), QLineEdit::Password);
        // The grouping time sits right of the login, its caption whole and clear of its field.
        const QLabel* groupCaption = window.findChild<QLabel*>("lblGroupSeconds");
        const QLineEdit* groupField = window.findChild<QLineEdit*>("txtGroupSeconds");
        QCOMPARE(groupCaption->text(), QStringLiteral("Group changes within seconds"));
        QCOMPARE(groupField->text(), QStringLiteral("30"));
        QVERIFY(!groupCaption->geometry().intersects(groupField->geometry()));
        QVERIFY(groupCaption->heightForWidth(groupCaption->width()) <= groupCaption->height());
        QVERIFY(window.rect().contains(groupField->geometry()));
        auto* host = window.findChild<QLineEdit*>("txtHost");
        QCOMPARE(host->geometry(), QRect(125, 8, 201, 19));
        QCOMPARE(window.findChild<QLineEdit*>("txtRecipient")->geometry(), QRect(109, 40, 201, 19));
        QCOMPARE(window.findChild<QPushButton*>("cmdSend")->geometry(), QRect(336, 8, 97, 57));
        QCOMPARE(window.findChild<QRadioButton*>("Option1_1")->geometry(), QRect(48, 16, 41, 17));
        QCOMPARE(window.findChild<QPushButton*>("cmdClose")->text(), QStringLiteral("&Close"));
        QCOMPARE(window.findChild<QLineEdit*>("Text1")->text(), QStringLiteral("5"));
        QVERIFY(window.findChild<QRadioButton*>("Option1_1")->isChecked());
        QVERIFY(window.findChild<QLabel*>("Label1")->font().bold());
        QVERIFY(window.findChild<QGroupBox*>("Frame1")->font().bold());
        QVERIFY(!window.findChild<QLineEdit*>("txtSenderName")->font().bold());
        QVERIFY(!window.findChild<QGroupBox*>("Frame3")->font().bold());

        const QStringList expected = {"txtHost",
                                      "txtSenderName",
                                      "txtSender",
                                      "txtRecipientName",
                                      "txtRecipient",
                                      "txtSubject",
                                      "txtMessage",
                                      "Command1",
                                      "cmdSend",
                                      "cmdClose",
                                      "Option1_0",
                                      "Option1_1",
                                      "Text1",
                                      "cboSecurity",
                                      "txtUser",
                                      "txtPassword",
                                      "txtGroupSeconds",
                                      "cboLogin",
                                      "cboProvider",
                                      "txtClientId",
                                      "txtClientSecret",
                                      "cmdSignIn",
                                      "txtAuthorizationUrl",
                                      "txtTokenUrl",
                                      "txtScope",
                                      "txtTokenCommand"};
        // The OAuth2 rows lie inside the window, clear of each other; they are off until OAuth2 is chosen.
        QList<QWidget*> rows;
        for (const char* name :
             {"lblLogin", "cboLogin", "lblProvider", "cboProvider", "lblClientId", "txtClientId", "lblClientSecret",
              "txtClientSecret", "cmdSignIn", "lblAuthorizationUrl", "txtAuthorizationUrl", "lblTokenUrl",
              "txtTokenUrl", "lblScope", "txtScope", "lblTokenCommand", "txtTokenCommand", "lblSignIn"})
            rows.append(window.findChild<QWidget*>(name));
        for (qsizetype i = 0; i < rows.size(); ++i) {
            QVERIFY2(window.rect().contains(rows[i]->geometry()), qPrintable(rows[i]->objectName()));
            for (qsizetype j = i + 1; j < rows.size(); ++j)
                QVERIFY2(!rows[i]->geometry().intersects(rows[j]->geometry()),
                         qPrintable(rows[i]->objectName() + " " + rows[j]->objectName()));
        }
        QVERIFY(!window.findChild<QWidget*>("cmdSignIn")->isEnabled());
        QVERIFY(window.findChild<QWidget*>("lblPasswordPlace")->geometry().bottom() < rows[0]->geometry().top());
        QStringList order;
        for (QWidget* widget = host; order.size() < expected.size(); widget = widget->nextInFocusChain()) {
            if (expected.contains(widget->objectName()))
                order.append(widget->objectName());
        }
        QCOMPARE(order, expected);
    }

    void load_defaultsThenStoredValues()
    {
        Folder folder;
        QVERIFY(folder.dir.isValid());
        auto window = folder.loaded();
        QCOMPARE(folder.emailBytes(), QByteArray()); // created empty
        QCOMPARE(control<QLineEdit>(*window, "txtSenderName")->text(), QStringLiteral("Ravelin"));
        QCOMPARE(control<QLineEdit>(*window, "txtSubject")->text(), QStringLiteral("Ravelin Notification"));
        QVERIFY(control<QRadioButton>(*window, "Option1_1")->isChecked());
        QCOMPARE(control<QLineEdit>(*window, "Text1")->text(), QStringLiteral("0"));

        folder.store("smtp.example.org:2525", -3, true);
        window = folder.loaded();
        QCOMPARE(control<QLineEdit>(*window, "txtHost")->text(), QStringLiteral("smtp.example.org:2525"));
        QCOMPARE(control<QLineEdit>(*window, "txtSenderName")->text(), QStringLiteral("Watcher"));
        QCOMPARE(control<QLineEdit>(*window, "txtSubject")->text(), QStringLiteral("Site status"));
        QVERIFY(control<QRadioButton>(*window, "Option1_0")->isChecked());
        QCOMPARE(control<QLineEdit>(*window, "Text1")->text(), QStringLiteral("-3"));
        QVERIFY(folder.shown().isEmpty());
    }

    void save_checksFieldsInOrderThenWrites()
    {
        Folder folder;
        QVERIFY(folder.dir.isValid());
        folder.store("old.example.org", 0, false, '\x12');
        const QByteArray before = folder.emailBytes();
        auto window = folder.loaded();
        for (QLineEdit* edit : window->findChildren<QLineEdit*>())
            edit->clear();
        QTest::mouseClick(control<QPushButton>(*window, "Command1"), Qt::LeftButton);
        QTest::keyClicks(control<QLineEdit>(*window, "txtHost"), " new.example.org ");
        QTest::keyClicks(control<QLineEdit>(*window, "txtSenderName"), "   ");
        QTest::mouseClick(control<QPushButton>(*window, "Command1"), Qt::LeftButton);
        QCOMPARE(folder.shown(), (QStringList{"You must specify an SMPT Host", "You must specify a Sender Name"}));
        QCOMPARE(folder.emailBytes(), before);

        window = folder.loaded();
        control<QLineEdit>(*window, "txtHost")->setText(" new.example.org ");
        control<QPlainTextEdit>(*window, "txtMessage")->setPlainText("   "); // blank: the stored message stays
        control<QLineEdit>(*window, "Text1")->setText("7.5");
        QTest::mouseClick(control<QPushButton>(*window, "Command1"), Qt::LeftButton);
        QCOMPARE(folder.shown().last(), QStringLiteral("Saved"));
        QByteArray bytes = folder.emailBytes();
        QCOMPARE(bytes.size(), kEmailRecordLength);
        QCOMPARE(bytes.left(255), QByteArray("new.example.org").leftJustified(255, ' '));
        QCOMPARE(bytes.mid(1530, 12), QByteArray("Stored text "));
        QCOMPARE(bytes.mid(3530), QByteArray("\0\0\x12\x12\x08\0", 6));

        control<QPlainTextEdit>(*window, "txtMessage")
            ->setPlainText("first\nsecond"); // line breaks are stored as CR LF
        QTest::mouseClick(control<QPushButton>(*window, "Command1"), Qt::LeftButton);
        QCOMPARE(folder.emailBytes().mid(1530, 14), QByteArray("first\r\nsecond "));
    }

    void groupSeconds_isStoredOnlyWhenNotTheDefault_andRefusedOutOfRange()
    {
        Folder folder;
        QVERIFY(folder.dir.isValid());
        folder.store("smtp.example.org");
        auto window = folder.loaded();
        QSignalSpy saved(window.get(), &SendMailWindow::groupSecondsSaved);
        const QString securityFile = MailSecurityFile(folder.dir.path()).path();
        auto securityBytes = [&] {
            QFile file(securityFile);
            return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
        };
        auto* field = control<QLineEdit>(*window, "txtGroupSeconds");
        QTest::mouseClick(control<QPushButton>(*window, "Command1"), Qt::LeftButton);
        QCOMPARE(securityBytes(), QByteArray("security=None\nuser=\n"));

        field->setText(QStringLiteral("0"));
        QTest::mouseClick(control<QPushButton>(*window, "Command1"), Qt::LeftButton);
        QCOMPARE(securityBytes(), QByteArray("security=None\nuser=\ngroupSeconds=0\n"));
        QCOMPARE(control<QLineEdit>(*folder.loaded(), "txtGroupSeconds")->text(), QStringLiteral("0"));

        // Typing cannot go past 3600; a field left empty is refused before anything is written.
        field->clear();
        QTest::keyClicks(field, "36009");
        QCOMPARE(field->text(), QStringLiteral("3600"));
        field->clear();
        const QByteArray emailBefore = folder.emailBytes();
        QTest::mouseClick(control<QPushButton>(*window, "Command1"), Qt::LeftButton);
        QCOMPARE(folder.shown().last(),
                 QStringLiteral("Group changes within seconds must be a whole number from 0 to 3600."));
        QCOMPARE(securityBytes(), QByteArray("security=None\nuser=\ngroupSeconds=0\n"));
        QCOMPARE(folder.emailBytes(), emailBefore);
        QCOMPARE(saved.size(), 2);
        QCOMPARE(saved.last().first().toInt(), 0);
    }

    void fileSystemFailures_nameTheFile()
    {
        Folder folder;
        QVERIFY(folder.dir.isValid());
        QVERIFY(QDir(folder.dir.path() + "/data").removeRecursively());
        auto window = folder.loaded();
        for (QLineEdit* edit :
             {control<QLineEdit>(*window, "txtHost"), control<QLineEdit>(*window, "txtSender"),
              control<QLineEdit>(*window, "txtRecipientName"), control<QLineEdit>(*window, "txtRecipient")})
            edit->setText("x");
        QTest::mouseClick(control<QPushButton>(*window, "Command1"), Qt::LeftButton);
        QCOMPARE(folder.shown().size(), 2);
        QVERIFY(folder.shown()[0].contains(folder.emailFile()) && folder.shown()[1].contains(folder.emailFile()));
    }

    void closeButtonAndTitleBar_bothReport()
    {
        Folder folder;
        QVERIFY(folder.dir.isValid());
        auto window = folder.loaded();
        QSignalSpy closed(window.get(), &SendMailWindow::closedByUser);
        window->show();
        QTest::mouseClick(control<QPushButton>(*window, "cmdClose"), Qt::LeftButton);
        QVERIFY(!window->isVisible());
        window->show();
        window->close();
        QCOMPARE(closed.size(), 2);
    }

    void noConnection_isTold()
    {
        Folder folder;
        QVERIFY(folder.dir.isValid());
        FakeSmtpServer server(kNormal);
        folder.store(server.address());
        folder.system.connection.connectResult = false;
        auto window = folder.loaded();
        QSignalSpy ended(window.get(), &SendMailWindow::attemptEnded);
        QTest::mouseClick(control<QPushButton>(*window, "cmdSend"), Qt::LeftButton);
        QVERIFY(ended.wait(5000));
        QCOMPARE(folder.shown(), QStringList{"Please open an internet connection."});
        QCOMPARE(server.connections, 0);
    }

    void testEmail_oneSeparatorPerSend_buttonDisabledMeanwhile()
    {
        Folder folder;
        QVERIFY(folder.dir.isValid());
        FakeSmtpServer server(kNormal);
        folder.store(server.address(), 0, true);
        auto window = folder.loaded();
        for (int send = 1; send <= 2; ++send) {
            QTest::mouseClick(control<QPushButton>(*window, "cmdSend"), Qt::LeftButton);
            QVERIFY(!control<QPushButton>(*window, "cmdSend")->isEnabled());
            QTest::mouseClick(control<QPushButton>(*window, "cmdSend"),
                              Qt::LeftButton); // no second exchange on the way
            QTRY_COMPARE(folder.shown().size(), send);
            QCOMPARE(folder.shown().last(), QStringLiteral("Message sent successfuly."));
            QCOMPARE(folder.system.messages.shown.last().icon, platform::MessageIcon::Information);
            QTRY_VERIFY(control<QPushButton>(*window, "cmdSend")->isEnabled());
        }
        QCOMPARE(server.connections, 2);
        const QString sep(25, u'*');
        QCOMPARE(control<QPlainTextEdit>(*window, "txtMessage")->toPlainText(),
                 QStringLiteral("Stored text\n%1\n\n%1\n").arg(sep));
        QCOMPARE(bodyOf(server.commands.value(10)), // six commands per connection
                 QStringLiteral("Stored text\r\n%1\r\n\r\n%1\r\n\r\n\r\n\r\n.\r\n").arg(sep).toLatin1());
    }

    void interactiveFailures_shownWithTheirTitles()
    {
        Folder folder;
        QVERIFY(folder.dir.isValid());
        FakeSmtpServer busy({{"421 busy\r\n"}});
        FakeSmtpServer silent;
        auto window = folder.loaded();
        window->setReplyTimeout(200);
        const QList<std::pair<QString, QString>> cases = {
            {busy.address(), "SMTP Error: 421 busy\r\n"},
            {"127.0.0.1:1", "Winsock Error number 10061\n"},
            {silent.address(), "Winsock Error number 10060\n"},
            {"127.0.0.1:0", "Winsock Error number 10049\n"},
        };
        for (const auto& [host, text] : cases) {
            control<QLineEdit>(*window, "txtHost")->setText(host);
            QTest::mouseClick(control<QPushButton>(*window, "cmdSend"), Qt::LeftButton);
            QTRY_VERIFY(control<QPushButton>(*window, "cmdSend")->isEnabled());
            const auto& shown = folder.system.messages.shown.last();
            QVERIFY2(shown.text.startsWith(text), qPrintable(shown.text));
            QCOMPARE(shown.title,
                     text.startsWith("SMTP") ? QStringLiteral("SMTP Error") : QStringLiteral("Winsock Error"));
        }
        QCOMPARE(folder.shown().size(), cases.size());
    }
};

QTEST_MAIN(TestSendMailWindow)
#include "tst_sendmailwindow.moc"
