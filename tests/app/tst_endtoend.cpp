#include "app/MainWindow.h"
#include "core/Monitor.h"
#include "mail/EmailSettings.h"
#include "platform/LinuxIcmpEcho.h"
#include "platform/QtHostResolver.h"
#include "platform/QtTcpSocket.h"
#include "store/RecordFile.h"
#include "support/Controls.h"
#include "support/Fakes.h"
#include "support/PrivateNetwork.h"
#include "support/SmtpSink.h"

#include <QCheckBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace sondrel;
using namespace sondrel::test;

// A whole run against a real site inside a private network: real ICMP, real name resolution and a real
// SMTP server on loopback. The site is 127.0.0.2; an nftables rule makes it stop answering.
class TestEndToEnd : public QObject {
    Q_OBJECT
private:
    QTemporaryDir m_folder;
    SmtpSink m_sink;
    FakeSystem m_fakes;
    platform::LinuxIcmpEcho m_echo;
    platform::QtHostResolver m_resolver;
    platform::QtTcpSocketFactory m_sockets;

    platform::Services services()
    {
        platform::Services s = m_fakes.services();
        return platform::Services{s.messages, s.clock,   s.connection, m_echo,   m_resolver,
                                  s.http,     m_sockets, s.shell,      s.secrets};
    }
    QStringList receivedMessages() const { return m_sink.messages(); }

private slots:
    void initTestCase()
    {
        QVERIFY(m_folder.isValid());
        QDir(m_folder.path()).mkpath(QStringLiteral("data"));
        QDir(m_folder.path()).mkpath(QStringLiteral("logs"));
        const QString why = enterPrivateNetwork();
        if (!why.isEmpty())
            QSKIP(qPrintable(QStringLiteral("needs a private network namespace: ") + why));
        const QString noServer = m_sink.start();
        if (!noServer.isEmpty())
            QSKIP(qPrintable(noServer));
    }

    void siteThatStopsAnswering_isReportedByOneEmailWithTheRunsLines()
    {
        mail::EmailSettings settings;
        settings.SmtpHost = m_sink.host();
        settings.SenderName = QStringLiteral("Site Watch");
        settings.SenderAddress = QStringLiteral("watch@example.test");
        settings.RecipientName = QStringLiteral("Owner");
        settings.RecipientAddress = QStringLiteral("owner@example.test");
        settings.Subject = QStringLiteral("Site down");
        settings.MessageBody = QStringLiteral("The site stopped answering.");
        settings.AttachLog = -1;
        settings.DisconnectDelay = 0;
        QByteArray record(mail::kEmailRecordLength, '\0');
        mail::encodeEmailSettings(record, settings);
        QVERIFY(
            store::RecordFile(mail::emailSettingsPath(m_folder.path()), mail::kEmailRecordLength).replace(1, record));

        app::MainWindow w(services(), m_folder.path());
        control<QLineEdit>(w, "Text1")->setText(QStringLiteral("127.0.0.2"));
        control<QLineEdit>(w, "Text3")->setText(QStringLiteral("Are you there?"));
        control<QLineEdit>(w, "Text5")->setText(QStringLiteral("0.2"));
        control<QRadioButton>(w, "Option1")->click(); // always on
        control<QRadioButton>(w, "Option3")->setChecked(true);
        QTest::mouseClick(control<QPushButton>(w, "Command1"), Qt::LeftButton);

        QTRY_COMPARE(resultLines(w).size(), 2);
        QVERIFY(resultLines(w).at(1).contains(QStringLiteral(" Trip Time=")));
        QCOMPARE(control<QLineEdit>(w, "Text2")->text(), QStringLiteral("127.0.0.2"));
        QCOMPARE(control<QLineEdit>(w, "Text4_4")->text(), QStringLiteral("Are you there?"));
        QVERIFY(!control<QLabel>(w, "Image1")->isHidden());

        const QString rules = runCommand(QStringLiteral("nft"), {QStringLiteral("-f"), QStringLiteral("-")},
                                         "table ip site {\n chain input {\n type filter hook input priority 0;\n"
                                         " ip saddr 127.0.0.2 icmp type echo-reply drop\n }\n}\n");
        QVERIFY2(rules.isEmpty(), qPrintable(rules));

        QTRY_VERIFY_WITH_TIMEOUT(resultLines(w).size() >= 4, 10000);
        QTRY_COMPARE_WITH_TIMEOUT(receivedMessages().size(), 1, 10000);
        QTest::mouseClick(control<QPushButton>(w, "Command4"), Qt::LeftButton);
        QTRY_VERIFY(!w.monitor().isRunning());

        const QStringList lines = resultLines(w);
        const int failed =
            int(lines.indexOf(QRegularExpression(QStringLiteral(".* Failed to ping! - Site Problem.*"))));
        QVERIFY(failed >= 2);
        QVERIFY(control<QLineEdit>(w, "Text4_0")->text().startsWith(QStringLiteral("11010   [ ip req timed out ]")));

        const QString message = receivedMessages().first();
        QVERIFY(message.contains(QStringLiteral("Subject: Site down")) ||
                message.contains(QStringLiteral("Subject:Site down")));
        QVERIFY(message.contains(QStringLiteral("The site stopped answering.\r\n*************************\r\n")));
        QString attached;
        for (int i = 0; i <= failed; ++i)
            attached += QStringLiteral("\r\n") + lines[i].trimmed() + QStringLiteral("\r\n");
        QVERIFY2(message.contains(attached), qPrintable(message));
        QCOMPARE(receivedMessages().size(), 1); // later failures of the same run send nothing more
    }
};

QTEST_MAIN(TestEndToEnd)
#include "tst_endtoend.moc"
