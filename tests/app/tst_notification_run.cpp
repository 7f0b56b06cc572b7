#include "app/MainWindow.h"
#include "app/SendMailWindow.h"
#include "core/Monitor.h"
#include "mail/EmailSettings.h"
#include "platform/QtTcpSocket.h"
#include "store/RecordFile.h"
#include "support/AppFixture.h"
#include "support/FakeSmtpServer.h"
#include "support/Fakes.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTest>

using namespace sondrel;
using namespace sondrel::test;

// The run's notifications, seen from the SMTP server's side.
class TestNotificationRun : public QObject, private AppFixture {
    Q_OBJECT
private:
    platform::QtTcpSocketFactory m_sockets;
    std::unique_ptr<FakeSmtpServer> m_server;
    QList<qint32> m_statuses; // echo outcome of each check in turn; the last one repeats

    void saveEmailSettings(bool attachLog)
    {
        mail::EmailSettings settings;
        settings.SmtpHost = m_server->address();
        settings.SenderName = QStringLiteral("Watcher");
        settings.SenderAddress = QStringLiteral("watcher@example.test");
        settings.RecipientName = QStringLiteral("Owner");
        settings.RecipientAddress = QStringLiteral("owner@example.test");
        settings.Subject = QStringLiteral("Site status");
        settings.MessageBody = QStringLiteral("The site changed.");
        settings.AttachLog = attachLog ? -1 : 0;
        QByteArray record(mail::kEmailRecordLength, '\0');
        mail::encodeEmailSettings(record, settings);
        QVERIFY(store::RecordFile(mail::emailSettingsPath(m_dir->path()), mail::kEmailRecordLength).replace(1, record));
    }
    app::MainWindow& open()
    {
        openWindow();
        app::MainWindow& w = *m_window;
        control<QLineEdit>(w, "Text1")->setText(QStringLiteral("127.0.0.1"));
        control<QCheckBox>(w, "Check2")->setChecked(false);
        control<QLineEdit>(w, "Text5")->setText(QStringLiteral("0.05"));
        control<QRadioButton>(w, "Option3")->setChecked(true);
        return w;
    }
    void runChecks(int count)
    {
        QTest::mouseClick(control<QPushButton>(*m_window, "Command1"), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(m_fakes->echo.sendCount >= count, 10000);
        QTest::mouseClick(control<QPushButton>(*m_window, "Command4"), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(!m_window->monitor().isRunning(), 10000);
    }
    QByteArray data(int message) const
    {
        int seen = 0;
        for (const QByteArray& command : m_server->commands) {
            if (command.startsWith("From:") && seen++ == message)
                return command;
        }
        return {};
    }
    int messages() const
    {
        int count = 0;
        for (const QByteArray& command : m_server->commands)
            count += command.startsWith("From:") ? 1 : 0;
        return count;
    }

private slots:
    void init()
    {
        QVERIFY(renewFixture());
        m_fakes->tcp = &m_sockets;
        m_server = std::make_unique<FakeSmtpServer>(FakeSmtpServer::acceptingScript());
        m_statuses.clear();
        m_fakes->echo.nextReply = [this](quint32 address, const QByteArray& payload) {
            EchoReply reply = FakeIcmpEcho::echoOf(address, payload);
            const int index = std::min<int>(m_fakes->echo.sendCount, int(m_statuses.size())) - 1;
            if (index >= 0 && m_statuses[index] != 0)
                reply = EchoReply{address, m_statuses[index], 0, 0, {}};
            return reply;
        };
    }
    void cleanup()
    {
        m_window.reset();
        m_server.reset();
    }

    void siteThatStopsAnswering_sendsOneNotificationWithTheRunsLines()
    {
        saveEmailSettings(true);
        app::MainWindow& w = open();
        m_statuses = {0, 11010, 0, 11010};
        runChecks(4);
        QTRY_COMPARE(messages(), 1);
        const QByteArray body = data(0);
        QVERIFY(body.contains("Subject:Site status\r\n"));
        QVERIFY(body.contains("The site changed.\r\n*************************\r\n\r\n*************************\r\n"));
        const QStringList lines = resultLines(w);
        // The lines of checks 1 and 2, each framed by empty lines, in order.
        const QByteArray attached =
            "\r\n" + lines[0].toLatin1().trimmed() + "\r\n\r\n" + lines[1].toLatin1().trimmed() + "\r\n";
        QVERIFY2(body.contains(attached), body.constData());
        QVERIFY(!w.monitor().state().LastPingOk);
        QVERIFY(!body.contains(lines[2].toLatin1().trimmed()));
    }

    void notificationOff_remembersTheChangeSilently()
    {
        saveEmailSettings(false);
        app::MainWindow& w = open();
        control<QRadioButton>(w, "Option4")->setChecked(true);
        m_statuses = {11010};
        QTest::mouseClick(control<QPushButton>(w, "Command1"), Qt::LeftButton);
        QTRY_VERIFY(m_fakes->echo.sendCount >= 2);
        // Turning notification on later in the run does not report the earlier failure.
        control<QRadioButton>(w, "Option3")->setChecked(true);
        const int sent = m_fakes->echo.sendCount;
        QTRY_VERIFY(m_fakes->echo.sendCount >= sent + 2);
        QTest::mouseClick(control<QPushButton>(w, "Command4"), Qt::LeftButton);
        QTRY_VERIFY(!w.monitor().isRunning());
        QTest::qWait(100);
        QCOMPARE(m_server->connections, 0);
    }

    void pageGoneAndBack_sendsTwoNotifications()
    {
        saveEmailSettings(false);
        app::MainWindow& w = open();
        control<QRadioButton>(w, "Option5")->setChecked(true);
        control<QLineEdit>(w, "Text7")->setText(QStringLiteral("welcome"));
        int fetches = 0;
        m_fakes->http.body = "<p>Welcome</p>";
        // Found, missing, found.
        QTest::mouseClick(control<QPushButton>(w, "Command1"), Qt::LeftButton);
        QTRY_VERIFY(m_fakes->echo.sendCount >= 1);
        m_fakes->http.body = "<p>Gone</p>";
        fetches = m_fakes->echo.sendCount;
        QTRY_VERIFY(m_fakes->echo.sendCount >= fetches + 2);
        m_fakes->http.body = "<p>WELCOME back</p>";
        fetches = m_fakes->echo.sendCount;
        QTRY_VERIFY(m_fakes->echo.sendCount >= fetches + 2);
        QTest::mouseClick(control<QPushButton>(w, "Command4"), Qt::LeftButton);
        QTRY_VERIFY(!w.monitor().isRunning());
        QTRY_COMPARE(messages(), 2);
        QCOMPARE(data(0).contains("*****"), false);
    }

    // A greeting too long to be a server's ends the notification's exchange with an error; the run goes on with
    // its next checks, and the e-mail window can send again after the same error.
    void greetingTooLong_runGoesOn_andTheTestEmailCanBeSentAgain()
    {
        m_server->script = {{"220 " + QByteArray(5000, 'A') + "\r\n"}};
        saveEmailSettings(false);
        app::MainWindow& w = open();
        m_statuses = {0, 11010};
        QTest::mouseClick(control<QPushButton>(w, "Command1"), Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(m_server->connections, 1, 10000);
        const int checks = m_fakes->echo.sendCount;
        QTRY_VERIFY_WITH_TIMEOUT(m_fakes->echo.sendCount >= checks + 2, 10000);
        QTRY_VERIFY_WITH_TIMEOUT(resultLines(w).size() >= 3, 10000);
        QTest::mouseClick(control<QPushButton>(w, "Command4"), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(!w.monitor().isRunning(), 10000);

        app::SendMailWindow window(m_fakes->services(), m_dir->path());
        window.Form_Load();
        auto* send = control<QPushButton>(window, "cmdSend");
        QVERIFY(send->isEnabled());
        QTest::mouseClick(send, Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(m_server->connections, 2, 10000);
        QTRY_VERIFY_WITH_TIMEOUT(m_fakes->messages.texts().join("\n").contains("too long"), 10000);
        QTRY_VERIFY_WITH_TIMEOUT(send->isEnabled(), 10000);
    }

    void emailButton_disablesTheMainWindowUntilTheEmailWindowCloses()
    {
        saveEmailSettings(false);
        app::MainWindow& w = open();
        w.show();
        QTest::mouseClick(control<QPushButton>(w, "Command2"), Qt::LeftButton);
        QVERIFY(!w.isEnabled());
        app::SendMailWindow* window = nullptr;
        for (QWidget* top : QApplication::topLevelWidgets()) {
            if (auto* found = qobject_cast<app::SendMailWindow*>(top))
                window = found;
        }
        QVERIFY(window);
        QTRY_VERIFY(window->isVisible());
        QCOMPARE(window->windowTitle(), QStringLiteral("Ravelin EMailer"));
        QCOMPARE(control<QLineEdit>(*window, "txtHost")->text(), m_server->address());
        window->close();
        QTRY_VERIFY(w.isEnabled());
    }
};

QTEST_MAIN(TestNotificationRun)
#include "tst_notification_run.moc"
