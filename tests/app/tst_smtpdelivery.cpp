#include "app/SendMailWindow.h"
#include "core/NotificationQueue.h"
#include "mail/EmailSettings.h"
#include "mail/TrustedCertificates.h"
#include "platform/QtTcpSocket.h"
#include "store/LogFormat.h"
#include "support/Controls.h"
#include "support/Fakes.h"
#include "support/SmtpSink.h"
#include "support/TestCertificates.h"

#include <QComboBox>
#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace sondrel;
using namespace sondrel::mail;
using app::SendMailWindow;
using test::control;
using test::SmtpSink;

namespace {

QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QByteArray header(const QByteArray& message, const QByteArray& name)
{
    for (const QByteArray& line : message.left(message.indexOf("\r\n\r\n")).split('\n')) {
        if (line.startsWith(name + ':'))
            return line.mid(name.size() + 1).trimmed();
    }
    return {};
}

QByteArray bodyOf(const QByteArray& message)
{
    return message.mid(message.indexOf("\r\n\r\n") + 4);
}

} // namespace

// E-mails sent to a real SMTP server (aiosmtpd) on loopback, as the recipient receives them.
class TestSmtpDelivery : public QObject {
    Q_OBJECT
private slots:
    void initTestCase()
    {
        QVERIFY(m_folder.isValid());
        QDir(m_folder.path()).mkpath("data");
        QDir(m_folder.path()).mkpath("logs");
        m_system.tcp = &m_sockets;
        const QString noServer = m_sink.start();
        if (!noServer.isEmpty())
            QSKIP(qPrintable(noServer));
        m_host = m_sink.host();
    }

    void testEmail_arrivesWithItsHeadersAndBody()
    {
        storeSettings(true);
        SendMailWindow window(m_system.services(), m_folder.path());
        window.Form_Load();
        QTest::mouseClick(control<QPushButton>(window, "cmdSend"), Qt::LeftButton);
        const QByteArray message = nextMessage();
        QCOMPARE(header(message, "From"), QByteArray("Watcher <me@example.org>"));
        QCOMPARE(header(message, "To"), QByteArray("Ops <ops@example.org>"));
        QCOMPARE(header(message, "Subject"), QByteArray("Site status"));
        QVERIFY(QDateTime::fromString(QString::fromLatin1(header(message, "Date")), Qt::RFC2822Date).isValid());
        QVERIFY(header(message, "Message-ID").endsWith("@example.org>"));
        QCOMPARE(bodyOf(message), "Stored text\r\n" + QByteArray(25, '*') + "\r\n\r\n\r\n\r\n");

        const QJsonObject envelope = QJsonDocument::fromJson(readFile(m_sink.file("0001.json"))).object();
        QCOMPARE(envelope.value("helo").toString(), QStringLiteral("me"));
        QCOMPARE(envelope.value("mail_from").toString(), QStringLiteral("me@example.org"));
        QCOMPARE(envelope.value("rcpt_tos").toArray(), QJsonArray{"ops@example.org"});
        QTRY_COMPARE_WITH_TIMEOUT(m_system.messages.texts(), QStringList{"Message sent successfuly."}, 15000);
    }

    void notification_carriesTheRunsLinesInOrder()
    {
        storeSettings(true);
        QFile log(m_folder.path() + "/logs/tmp.log");
        QVERIFY(log.open(QIODevice::WriteOnly));
        for (const char* line :
             {"000001 07:00:00 Trip Time=12 ms Average=12  WSOK", "000002 07:01:00 line two", "000003 not attached"})
            log.write(store::encodeLogRecord(QString::fromLatin1(line)));
        log.close();
        m_system.messages.shown.clear();

        core::NotificationQueue notifications(m_system.services(), m_folder.path());
        int ended = 0;
        notifications.notify("000002", [&] { ++ended; });
        const QByteArray sep(25, '*');
        QCOMPARE(bodyOf(nextMessage()), "Stored text\r\n" + sep + "\r\n\r\n" + sep +
                                            "\r\n\r\n000001 07:00:00 Trip Time=12 ms Average=12  WSOK\r\n"
                                            "\r\n000002 07:01:00 line two\r\n\r\n\r\n\r\n");
        QTRY_COMPARE_WITH_TIMEOUT(ended, 1, 15000);
        QVERIFY(m_system.messages.shown.isEmpty());
    }

    // A new user picks STARTTLS, enters a login and sends a test e-mail; it arrives encrypted and logged in,
    // and so do the notifications of a run, with the password read from where the window kept it.
    void startTlsWithLogin_testEmailAndNotificationArrive()
    {
        const QString noCertificates = m_certificates.make();
        if (!noCertificates.isEmpty())
            QSKIP(qPrintable(noCertificates));
        SmtpSink sink;
        const QString noServer = sink.start(0, {"--starttls", m_certificates.file("server.pem"),
                                                m_certificates.file("server.key"), "--login", "me:s3cret"});
        if (!noServer.isEmpty())
            QSKIP(qPrintable(noServer));
        QTemporaryDir folder;
        QVERIFY(folder.isValid() && QDir(folder.path()).mkpath("data") && QDir(folder.path()).mkpath("logs"));
        test::FakeSystem system;
        platform::QtTcpSocketFactory sockets(m_certificates.authority());
        system.tcp = &sockets;

        SendMailWindow window(system.services(), folder.path());
        window.Form_Load();
        control<QLineEdit>(window, "txtHost")->setText(sink.host());
        control<QLineEdit>(window, "txtSender")->setText("me@example.org");
        control<QLineEdit>(window, "txtRecipientName")->setText("Ops");
        control<QLineEdit>(window, "txtRecipient")->setText("ops@example.org");
        control<QComboBox>(window, "cboSecurity")->setCurrentText("STARTTLS");
        control<QLineEdit>(window, "txtUser")->setText("me");
        control<QLineEdit>(window, "txtPassword")->setText("s3cret");
        QTest::mouseClick(control<QPushButton>(window, "Command1"), Qt::LeftButton);
        QTRY_VERIFY(control<QLabel>(window, "lblPasswordPlace")->text().contains("secret store"));
        QTest::mouseClick(control<QPushButton>(window, "cmdSend"), Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(sink.messages().size(), 1, 15000);
        QTRY_VERIFY(system.messages.texts().contains("Message sent successfuly."));

        core::NotificationQueue notifications(system.services(), folder.path());
        bool wentOn = false;
        notifications.notify("000001", [&] { wentOn = true; });
        QTRY_COMPARE_WITH_TIMEOUT(sink.messages().size(), 2, 15000);
        QTRY_VERIFY(wentOn);
        for (const char* meta : {"0001.json", "0002.json"}) {
            const QJsonObject envelope = QJsonDocument::fromJson(readFile(sink.file(meta))).object();
            QVERIFY(envelope.value("tls").toBool() && envelope.value("authenticated").toBool());
        }
        // The password is in the secret store and in no file of the program's folder.
        for (const QFileInfo& file : QDir(folder.path() + "/data").entryInfoList(QDir::Files))
            QVERIFY2(!readFile(file.filePath()).contains("s3cret"), qPrintable(file.fileName()));
    }

    // A local bridge's own certificate: refused until the user trusts exactly that one, then accepted.
    void ownCertificate_trustedFromTheBox_thenAccepted()
    {
        const QString noCertificates = m_certificates.make();
        if (!noCertificates.isEmpty())
            QSKIP(qPrintable(noCertificates));
        SmtpSink sink;
        const QString noServer =
            sink.start(0, {"--implicit-tls", m_certificates.file("bridge.pem"), m_certificates.file("bridge.key")});
        if (!noServer.isEmpty())
            QSKIP(qPrintable(noServer));
        QTemporaryDir folder;
        QVERIFY(folder.isValid() && QDir(folder.path()).mkpath("data") && QDir(folder.path()).mkpath("logs"));
        test::FakeSystem system;
        platform::QtTcpSocketFactory sockets;
        system.tcp = &sockets;
        SendMailWindow window(system.services(), folder.path());
        window.Form_Load();
        control<QLineEdit>(window, "txtHost")->setText(sink.host());
        control<QLineEdit>(window, "txtSender")->setText("me@example.org");
        control<QLineEdit>(window, "txtRecipient")->setText("ops@example.org");
        control<QComboBox>(window, "cboSecurity")->setCurrentText("SSL/TLS");
        auto send = [&] {
            const qsizetype before = system.messages.shown.size();
            QTest::mouseClick(control<QPushButton>(window, "cmdSend"), Qt::LeftButton);
            QTRY_VERIFY_WITH_TIMEOUT(system.messages.shown.size() > before, 15000);
            QTRY_VERIFY(control<QPushButton>(window, "cmdSend")->isEnabled());
        };
        send(); // the default answer declines
        QCOMPARE(system.messages.shown.last().title, QStringLiteral("Certificate Error"));
        QVERIFY(system.messages.shown.last().text.contains(mail::certificateFingerprint(m_certificates.der("bridge"))));
        send();
        QVERIFY(!QFile::exists(folder.path() + "/data/trustedcertificates"));
        system.messages.askAnswer = true;
        send();
        QCOMPARE(sink.messages().size(), 0);
        send();
        QCOMPARE(system.messages.shown.last().text, QStringLiteral("Message sent successfuly."));
        QTRY_COMPARE(sink.messages().size(), 1);
    }

private:
    test::TestCertificates m_certificates;

    void storeSettings(bool attach)
    {
        QByteArray record(kEmailRecordLength, '\0');
        encodeEmailSettings(record, {m_host, "Watcher", "me@example.org", "Ops", "ops@example.org", "Site status",
                                     "Stored text", qint16(attach ? -1 : 0), 0});
        QFile file(emailSettingsPath(m_folder.path()));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(record);
    }

    // The next message the server stores (it writes the .eml last, complete), waited for within a bound.
    QByteArray nextMessage()
    {
        const QString path = m_sink.file(QStringLiteral("%1.eml").arg(++m_received, 4, 10, QLatin1Char('0')));
        [&] { QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(path), 15000); }();
        return readFile(path);
    }

    SmtpSink m_sink;
    QTemporaryDir m_folder;
    QString m_host;
    platform::QtTcpSocketFactory m_sockets;
    test::FakeSystem m_system;
    int m_received = 0;
};

QTEST_MAIN(TestSmtpDelivery)
#include "tst_smtpdelivery.moc"
