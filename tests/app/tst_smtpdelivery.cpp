#include "app/SendMailWindow.h"
#include "core/NotificationQueue.h"
#include "mail/EmailSettings.h"
#include "platform/QtTcpSocket.h"
#include "store/LogFormat.h"
#include "support/Controls.h"
#include "support/Fakes.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace sondrel;
using namespace sondrel::mail;
using app::SendMailWindow;
using test::control;

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
        QVERIFY(m_spool.isValid() && m_folder.isValid());
        QDir(m_folder.path()).mkpath("data");
        QDir(m_folder.path()).mkpath("logs");
        m_system.tcp = &m_sockets;
        // The system's interpreter carries the Debian aiosmtpd package; the script prints its port.
        m_server.start("/usr/bin/python3",
                       {qEnvironmentVariable("SONDREL_SOURCE_DIR") + "/tests/mail/smtp_sink.py", m_spool.path()});
        QSignalSpy output(&m_server, &QProcess::readyReadStandardOutput);
        for (int turn = 0; turn < 100 && !m_server.canReadLine() && m_server.state() != QProcess::NotRunning; ++turn)
            output.wait(100);
        if (!m_server.canReadLine())
            QSKIP(qPrintable("no loopback SMTP server (needs /usr/bin/python3 with aiosmtpd): " +
                             QString::fromLocal8Bit(m_server.readAllStandardError())));
        m_host = "127.0.0.1:" + QString::fromLatin1(m_server.readLine().trimmed());
    }
    void cleanupTestCase()
    {
        QSignalSpy ended(&m_server, &QProcess::finished);
        m_server.closeWriteChannel();
        if (m_server.state() != QProcess::NotRunning && !ended.wait(5000))
            m_server.kill();
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

        const QJsonObject envelope = QJsonDocument::fromJson(readFile(m_spool.filePath("0001.json"))).object();
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

private:
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
        const QString path = m_spool.filePath(QStringLiteral("%1.eml").arg(++m_received, 4, 10, QLatin1Char('0')));
        [&] { QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(path), 15000); }();
        return readFile(path);
    }

    QTemporaryDir m_spool;
    QTemporaryDir m_folder;
    QProcess m_server;
    QString m_host;
    platform::QtTcpSocketFactory m_sockets;
    test::FakeSystem m_system;
    int m_received = 0;
};

QTEST_MAIN(TestSmtpDelivery)
#include "tst_smtpdelivery.moc"
