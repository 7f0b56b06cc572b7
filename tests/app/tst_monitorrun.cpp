#include "app/MainWindow.h"
#include "core/Monitor.h"
#include "platform/NumberText.h"
#include "support/AppFixture.h"
#include "support/Fakes.h"

#include <QAction>
#include <QCheckBox>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace sondrel;
using namespace sondrel::test;

class TestMonitorRun : public QObject, private AppFixture {
    Q_OBJECT
private:
    app::MainWindow& open()
    {
        openWindow();
        app::MainWindow& w = *m_window;
        control<QLineEdit>(w, "Text1")->setText(QStringLiteral("127.0.0.1"));
        control<QCheckBox>(w, "Check2")->setChecked(false);
        return w;
    }
    QList<bool> buttonStates() const
    {
        const app::MainWindow& w = *m_window;
        return {control<QPushButton>(w, "Command1")->isEnabled(), control<QPushButton>(w, "Command4")->isEnabled(),
                control<QPushButton>(w, "Command6")->isEnabled(), control<QPushButton>(w, "Command5")->isEnabled(),
                control<QPushButton>(w, "Command2")->isEnabled()};
    }
    // Start, Stop, Clear List and Exit as the Site menu offers them, in the order of their buttons.
    QList<bool> siteMenuStates() const
    {
        QList<bool> states;
        for (const QAction* item : control<QMenu>(*m_window, "mnuSite")->actions().last(4))
            states.append(item->isEnabled());
        return states;
    }
    static QList<bool> allEnabled() { return {true, true, true, true, true}; }
    QString file(const QString& relative) const { return m_dir->path() + u'/' + relative; }

private slots:
    void init() { QVERIFY(renewFixture()); }
    void cleanup() { m_window.reset(); }

    void start_refusedByEachBadField_afterRenewingTheLogs_data()
    {
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("packet");
        QTest::addColumn<QString>("mainSite");
        QTest::addColumn<bool>("pageCheck");
        QTest::addColumn<QString>("message");
        QTest::newRow("blank address") << "   "
                                       << "Packet"
                                       << "" << false << "You have not entered a web url to check!";
        QTest::newRow("blank packet") << "host"
                                      << "  "
                                      << "" << false << "You have not entered a packet string to send!";
        QTest::newRow("page check without text")
            << "host"
            << "Packet"
            << " " << true << "You must enter a Main Site String when you select Check Main Site Page!";
        // The field holds 255 characters, an echo carries back 250.
        for (const int length : {251, 255})
            QTest::addRow("packet of %d characters", length)
                << "host" << QString(length, u'p') << "" << false
                << QStringLiteral("The packet string is %1 characters long; at most 250 can be sent in one echo and "
                                  "checked when it comes back. Shorten it and press Start again.")
                       .arg(length);
    }
    void start_refusedByEachBadField_afterRenewingTheLogs()
    {
        QFETCH(QString, address);
        QFETCH(QString, packet);
        QFETCH(QString, mainSite);
        QFETCH(bool, pageCheck);
        QFETCH(QString, message);
        app::MainWindow& w = open();
        QFile stale(file("logs/tmp.log"));
        QVERIFY(stale.open(QIODevice::WriteOnly));
        stale.write(QByteArray(400, 'x'));
        stale.close();

        control<QLineEdit>(w, "Text1")->setText(address);
        control<QLineEdit>(w, "Text3")->setText(packet);
        control<QLineEdit>(w, "Text7")->setText(mainSite);
        (pageCheck ? control<QRadioButton>(w, "Option5") : control<QRadioButton>(w, "Option6"))->setChecked(true);
        QTest::mouseClick(control<QPushButton>(w, "Command1"), Qt::LeftButton);

        QCOMPARE(m_fakes->messages.texts(), QStringList{message});
        QCOMPARE(m_fakes->messages.shown.first().title, QStringLiteral("Sondrel"));
        QCOMPARE(buttonStates(), allEnabled());
        QVERIFY(!w.monitor().isRunning());
        QCOMPARE(QFileInfo(file("logs/tmp.log")).size(), 0);
        QVERIFY(QFileInfo::exists(file("logs/000001.log")));
        QCOMPARE(m_fakes->echo.sendCount, 0);
    }

    void start_pageCheckOffWithoutMainSiteString_isAccepted()
    {
        app::MainWindow& w = open();
        control<QRadioButton>(w, "Option6")->setChecked(true);
        control<QLineEdit>(w, "Text7")->clear();
        QTest::mouseClick(control<QPushButton>(w, "Command1"), Qt::LeftButton);
        QVERIFY(w.monitor().isRunning());
        QTRY_COMPARE(control<QLineEdit>(w, "Text6")->text(), QStringLiteral("1"));
        QVERIFY(m_fakes->messages.shown.isEmpty());
    }

    void buttons_followStartingRunningAndStop()
    {
        app::MainWindow& w = open();
        m_fakes->echo.delayMs = 50;
        m_fakes->connection.connectResult = true;
        QTest::mouseClick(control<QPushButton>(w, "Command1"), Qt::LeftButton);
        // Past the first connection check: only Stop is usable.
        QCOMPARE(buttonStates(), (QList<bool>{false, true, false, false, false}));
        QTRY_VERIFY(w.monitor().isWaiting());
        QCOMPARE(buttonStates(), (QList<bool>{false, true, false, false, false}));
        QCOMPARE(siteMenuStates(), buttonStates().first(4));

        QTest::mouseClick(control<QPushButton>(w, "Command4"), Qt::LeftButton);
        QTRY_COMPARE(m_fakes->messages.texts(), QStringList{QStringLiteral("Scan Stopped")});
        QCOMPARE(buttonStates(), allEnabled());
        QCOMPARE(siteMenuStates(), buttonStates().first(4));
        QVERIFY(!w.monitor().isRunning());
        QVERIFY(!w.monitor().isLogOpen());
    }

    void buttons_allDisabledWhileStarting()
    {
        QList<bool> seen;
        // The connection check sees the Starting state.
        struct Probe final : platform::ConnectionService {
            std::function<void()> onConnect;
            bool attemptConnect() override
            {
                onConnect();
                return true;
            }
            bool hangUp() override { return true; }
        } probe;
        probe.onConnect = [&] { seen = buttonStates(); };
        platform::Services services = m_fakes->services();
        m_window = std::make_unique<app::MainWindow>(platform::Services{services.messages, services.clock, probe,
                                                                        services.echo, services.resolver, services.http,
                                                                        services.tcp, services.shell, services.secrets},
                                                     m_dir->path());
        control<QLineEdit>(*m_window, "Text1")->setText(QStringLiteral("127.0.0.1"));
        QTest::mouseClick(control<QPushButton>(*m_window, "Command1"), Qt::LeftButton);
        QCOMPARE(seen, (QList<bool>{false, false, false, false, false}));
        QTest::mouseClick(control<QPushButton>(*m_window, "Command4"), Qt::LeftButton);
        QTRY_VERIFY(!m_window->monitor().isRunning());
    }

    void failedConnection_endsTheRunQuietlyWithTheNeutralFace()
    {
        app::MainWindow& w = open();
        m_fakes->connection.connectResult = false;
        QSignalSpy finished(&w.monitor(), &core::Monitor::runFinished);
        QTest::mouseClick(control<QPushButton>(w, "Command1"), Qt::LeftButton);
        QCOMPARE(finished.size(), 1);
        QCOMPARE(resultLines(w), QStringList{QStringLiteral("Failed to connect to internet!")});
        QVERIFY(control<QLabel>(w, "Image1")->isHidden() && !control<QLabel>(w, "Image2")->isHidden() &&
                control<QLabel>(w, "Image3")->isHidden());
        QVERIFY(m_fakes->messages.shown.isEmpty());
        QCOMPARE(buttonStates(), allEnabled());
        QCOMPARE(m_fakes->echo.sendCount, 0);
        QVERIFY(!w.monitor().isLogOpen());
    }

    void interval_isReadAgainDuringTheWait()
    {
        app::MainWindow& w = open();
        control<QLineEdit>(w, "Text5")->setText(QStringLiteral("300"));
        QTest::mouseClick(control<QPushButton>(w, "Command1"), Qt::LeftButton);
        QTRY_VERIFY(w.monitor().isWaiting());
        QTRY_COMPARE(control<QLineEdit>(w, "Text6")->text(), QStringLiteral("1"));
        QTest::qWait(50);
        QCOMPARE(control<QLineEdit>(w, "Text6")->text(), QStringLiteral("1"));
        // 300 edited to a tenth of a second: the wait has already lasted that long, so it ends now.
        control<QLineEdit>(w, "Text5")->setText(QStringLiteral(" 0.01"));
        QTRY_VERIFY(m_fakes->echo.sendCount >= 2);
        QTRY_VERIFY(control<QLineEdit>(w, "Text6")->text().toInt() >= 2);
    }

    void interval_fractionsAndNoNumberAreRead()
    {
        QCOMPARE(platform::leadingNumber(QStringLiteral("2.5")), 2.5);
        QCOMPARE(platform::leadingNumber(QStringLiteral("  60s")), 60.0);
        QCOMPARE(platform::leadingNumber(QStringLiteral("abc")), 0.0);
        QCOMPARE(platform::leadingNumber(QStringLiteral("-5")), -5.0);
        QCOMPARE(platform::leadingNumber(QStringLiteral("")), 0.0);
        QVERIFY(platform::leadingNumber(QStringLiteral("9e999")) > 1e300);
    }

    void stop_duringAWait_endsTheRunAtOnce()
    {
        app::MainWindow& w = open();
        control<QLineEdit>(w, "Text5")->setText(QStringLiteral("300"));
        QTest::mouseClick(control<QPushButton>(w, "Command1"), Qt::LeftButton);
        QTRY_VERIFY(w.monitor().isWaiting());
        QVERIFY(w.monitor().isLogOpen());
        QElapsedTimer timer;
        timer.start();
        QTest::mouseClick(control<QPushButton>(w, "Command4"), Qt::LeftButton);
        // Stop closes the files at once; the message follows from the event loop.
        QVERIFY(!w.monitor().isLogOpen());
        QTRY_COMPARE_WITH_TIMEOUT(m_fakes->messages.texts(), QStringList{QStringLiteral("Scan Stopped")}, 2000);
        QCOMPARE(buttonStates(), allEnabled());
        QCOMPARE(m_fakes->echo.sendCount, 1);
    }

    void intervalZero_keepsCheckingAndStopStillActs()
    {
        app::MainWindow& w = open();
        control<QLineEdit>(w, "Text5")->setText(QStringLiteral("0"));
        QTest::mouseClick(control<QPushButton>(w, "Command1"), Qt::LeftButton);
        QTRY_VERIFY(m_fakes->echo.sendCount >= 20);
        QTest::mouseClick(control<QPushButton>(w, "Command4"), Qt::LeftButton);
        QTRY_COMPARE(m_fakes->messages.texts(), QStringList{QStringLiteral("Scan Stopped")});
        const int sent = m_fakes->echo.sendCount;
        QTest::qWait(30);
        QCOMPARE(m_fakes->echo.sendCount, sent);
        QCOMPARE(resultLines(w).size(), sent);
    }

    void stop_duringACheck_letsTheCheckEndBeforeStopping()
    {
        app::MainWindow& w = open();
        m_fakes->echo.delayMs = 100;
        QTest::mouseClick(control<QPushButton>(w, "Command1"), Qt::LeftButton);
        QTest::mouseClick(control<QPushButton>(w, "Command4"), Qt::LeftButton);
        QVERIFY(!control<QPushButton>(w, "Command1")->isEnabled()); // no second run inside this one
        QVERIFY(control<QPushButton>(w, "Command5")->isEnabled());
        QTRY_COMPARE(m_fakes->messages.texts(), QStringList{QStringLiteral("Scan Stopped")});
        QCOMPARE(resultLines(w).size(), 1);
        QCOMPARE(buttonStates(), allEnabled());
        // The check that Stop interrupted is logged before the files close.
        QFile log(file("logs/000001.log"));
        QVERIFY(log.open(QIODevice::ReadOnly));
        QCOMPARE(log.readAll(), '"' + resultLines(w).first().toLatin1() + "\"\r\n");
    }

    void autoDisconnect_hangsUpAfterEveryCheck_andReportsAFailedHangUp()
    {
        app::MainWindow& w = open();
        control<QRadioButton>(w, "Option2")->click();
        QVERIFY(control<QCheckBox>(w, "Check2")->isChecked());
        control<QLineEdit>(w, "Text5")->setText(QStringLiteral("0"));
        m_fakes->connection.hangUpResult = false;
        QTest::mouseClick(control<QPushButton>(w, "Command1"), Qt::LeftButton);
        QTRY_VERIFY(m_fakes->connection.hangUpCalls >= 2);
        QTest::mouseClick(control<QPushButton>(w, "Command4"), Qt::LeftButton);
        QTRY_VERIFY(!w.monitor().isRunning());
        QCOMPARE(m_fakes->connection.hangUpCalls, m_fakes->echo.sendCount);
        QCOMPARE(m_fakes->connection.connectCalls, m_fakes->echo.sendCount);
        QVERIFY(
            m_fakes->messages.texts().contains(QStringLiteral("Cannot auto disconnect. Please disconnect manually")));
        QCOMPARE(m_fakes->messages.texts().last(), QStringLiteral("Scan Stopped"));
    }

    void alwaysOn_neverHangsUp()
    {
        app::MainWindow& w = open();
        control<QRadioButton>(w, "Option1")->click();
        control<QLineEdit>(w, "Text5")->setText(QStringLiteral("0"));
        QTest::mouseClick(control<QPushButton>(w, "Command1"), Qt::LeftButton);
        QTRY_VERIFY(m_fakes->echo.sendCount >= 3);
        QTest::mouseClick(control<QPushButton>(w, "Command4"), Qt::LeftButton);
        QTRY_VERIFY(!w.monitor().isRunning());
        QCOMPARE(m_fakes->connection.hangUpCalls, 0);
    }

    void closingTheWindowDuringARun_closesFilesWithoutScanStopped()
    {
        app::MainWindow& w = open();
        m_fakes->echo.delayMs = 200;
        QTest::mouseClick(control<QPushButton>(w, "Command1"), Qt::LeftButton);
        QVERIFY(w.monitor().isLogOpen());
        w.close();
        QVERIFY(!w.monitor().isLogOpen());
        QTest::qWait(300);
        QVERIFY(m_fakes->messages.shown.isEmpty());
        QCOMPARE(resultLines(w).size(), 0);
        m_window.reset();
    }

    void secondRun_startsANewNumberedLogAndKeepsEarlierLines()
    {
        app::MainWindow& w = open();
        control<QLineEdit>(w, "Text5")->setText(QStringLiteral("300"));
        for (int run = 1; run <= 2; ++run) {
            QTest::mouseClick(control<QPushButton>(w, "Command1"), Qt::LeftButton);
            QTRY_VERIFY(w.monitor().isWaiting());
            QTest::mouseClick(control<QPushButton>(w, "Command4"), Qt::LeftButton);
            QTRY_VERIFY(!w.monitor().isRunning());
        }
        QVERIFY(QFileInfo::exists(file("logs/000001.log")));
        QVERIFY(QFileInfo::exists(file("logs/000002.log")));
        QCOMPARE(resultLines(w).size(), 2);
        QVERIFY(resultLines(w).at(1).startsWith(QStringLiteral("000001 ")));
    }
};

QTEST_MAIN(TestMonitorRun)
#include "tst_monitorrun.moc"
