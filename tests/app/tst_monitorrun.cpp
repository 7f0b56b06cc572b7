#include "app/MainWindow.h"
#include "app/MonitorRun.h"
#include "store/LogFiles.h"
#include "support/AppFixture.h"
#include "support/Fakes.h"

#include <QCheckBox>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
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
        w.Text1->setText(QStringLiteral("127.0.0.1"));
        w.Check2->setChecked(false);
        return w;
    }
    QList<bool> buttonStates() const
    {
        const app::MainWindow& w = *m_window;
        return {w.Command1->isEnabled(), w.Command4->isEnabled(), w.Command6->isEnabled(), w.Command5->isEnabled(),
                w.Command2->isEnabled()};
    }
    static QList<bool> allEnabled() { return {true, true, true, true, true}; }
    QString file(const QString& relative) const { return m_dir->path() + u'/' + relative; }

private slots:
    void init() { QVERIFY(renewFixture()); }
    void cleanup() { m_window.reset(); }

    void start_refusedByEachEmptyField_afterRenewingTheLogs_data()
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
    }
    void start_refusedByEachEmptyField_afterRenewingTheLogs()
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

        w.Text1->setText(address);
        w.Text3->setText(packet);
        w.Text7->setText(mainSite);
        (pageCheck ? w.Option5 : w.Option6)->setChecked(true);
        QTest::mouseClick(w.Command1, Qt::LeftButton);

        QCOMPARE(m_fakes->messages.texts(), QStringList{message});
        QCOMPARE(m_fakes->messages.shown.first().title, QStringLiteral("Sondrel"));
        QCOMPARE(buttonStates(), allEnabled());
        QVERIFY(!w.run().isRunning());
        QCOMPARE(QFileInfo(file("logs/tmp.log")).size(), 0);
        QVERIFY(QFileInfo::exists(file("logs/000001.log")));
        QCOMPARE(m_fakes->echo.sendCount, 0);
    }

    void start_pageCheckOffWithoutMainSiteString_isAccepted()
    {
        app::MainWindow& w = open();
        w.Option6->setChecked(true);
        w.Text7->clear();
        QTest::mouseClick(w.Command1, Qt::LeftButton);
        QVERIFY(w.run().isRunning());
        QTRY_COMPARE(w.Text6->text(), QStringLiteral("1"));
        QVERIFY(m_fakes->messages.shown.isEmpty());
    }

    void buttons_followStartingRunningAndStop()
    {
        app::MainWindow& w = open();
        m_fakes->echo.delayMs = 50;
        m_fakes->connection.connectResult = true;
        QTest::mouseClick(w.Command1, Qt::LeftButton);
        // Past the first connection check: only Stop is usable.
        QCOMPARE(buttonStates(), (QList<bool>{false, true, false, false, false}));
        QTRY_VERIFY(w.run().isWaiting());
        QCOMPARE(buttonStates(), (QList<bool>{false, true, false, false, false}));

        QTest::mouseClick(w.Command4, Qt::LeftButton);
        QTRY_COMPARE(m_fakes->messages.texts(), QStringList{QStringLiteral("Scan Stopped")});
        QCOMPARE(buttonStates(), allEnabled());
        QVERIFY(!w.run().isRunning());
        QVERIFY(!w.logFiles().isLogOpen());
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
                                                                        services.tcp, services.shell},
                                                     m_dir->path());
        m_window->Text1->setText(QStringLiteral("127.0.0.1"));
        QTest::mouseClick(m_window->Command1, Qt::LeftButton);
        QCOMPARE(seen, (QList<bool>{false, false, false, false, false}));
        QTest::mouseClick(m_window->Command4, Qt::LeftButton);
        QTRY_VERIFY(!m_window->run().isRunning());
    }

    void failedConnection_endsTheRunQuietlyWithTheNeutralFace()
    {
        app::MainWindow& w = open();
        m_fakes->connection.connectResult = false;
        QSignalSpy finished(&w.run(), &app::MonitorRun::runFinished);
        QTest::mouseClick(w.Command1, Qt::LeftButton);
        QCOMPARE(finished.size(), 1);
        QCOMPARE(w.results().lines(), QStringList{QStringLiteral("Failed to connect to internet!")});
        QVERIFY(w.Image1->isHidden() && !w.Image2->isHidden() && w.Image3->isHidden());
        QVERIFY(m_fakes->messages.shown.isEmpty());
        QCOMPARE(buttonStates(), allEnabled());
        QCOMPARE(m_fakes->echo.sendCount, 0);
        QVERIFY(!w.logFiles().isLogOpen());
    }

    void interval_isReadAgainDuringTheWait()
    {
        app::MainWindow& w = open();
        w.Text5->setText(QStringLiteral("300"));
        QTest::mouseClick(w.Command1, Qt::LeftButton);
        QTRY_VERIFY(w.run().isWaiting());
        QCOMPARE(w.Text6->text(), QStringLiteral("1"));
        QTest::qWait(50);
        QCOMPARE(w.Text6->text(), QStringLiteral("1"));
        // 300 edited to a tenth of a second: the wait has already lasted that long, so it ends now.
        w.Text5->setText(QStringLiteral(" 0.01"));
        QTRY_COMPARE(m_fakes->echo.sendCount, 2);
        QCOMPARE(w.Text6->text(), QStringLiteral("2"));
    }

    void interval_fractionsAndNoNumberAreRead()
    {
        QCOMPARE(app::MonitorRun::intervalSeconds(QStringLiteral("2.5")), 2.5);
        QCOMPARE(app::MonitorRun::intervalSeconds(QStringLiteral("  60s")), 60.0);
        QCOMPARE(app::MonitorRun::intervalSeconds(QStringLiteral("abc")), 0.0);
        QCOMPARE(app::MonitorRun::intervalSeconds(QStringLiteral("-5")), -5.0);
        QCOMPARE(app::MonitorRun::intervalSeconds(QStringLiteral("")), 0.0);
        QVERIFY(app::MonitorRun::intervalSeconds(QStringLiteral("9e999")) > 1e300);
    }

    void stop_duringAWait_endsTheRunAtOnce()
    {
        app::MainWindow& w = open();
        w.Text5->setText(QStringLiteral("300"));
        QTest::mouseClick(w.Command1, Qt::LeftButton);
        QTRY_VERIFY(w.run().isWaiting());
        QVERIFY(w.logFiles().isLogOpen());
        QElapsedTimer timer;
        timer.start();
        QTest::mouseClick(w.Command4, Qt::LeftButton);
        // Stop closes the files at once; the message follows from the event loop.
        QVERIFY(!w.logFiles().isLogOpen());
        QTRY_COMPARE_WITH_TIMEOUT(m_fakes->messages.texts(), QStringList{QStringLiteral("Scan Stopped")}, 2000);
        QCOMPARE(buttonStates(), allEnabled());
        QCOMPARE(m_fakes->echo.sendCount, 1);
    }

    void intervalZero_keepsCheckingAndStopStillActs()
    {
        app::MainWindow& w = open();
        w.Text5->setText(QStringLiteral("0"));
        QTest::mouseClick(w.Command1, Qt::LeftButton);
        QTRY_VERIFY(m_fakes->echo.sendCount >= 20);
        QTest::mouseClick(w.Command4, Qt::LeftButton);
        QTRY_COMPARE(m_fakes->messages.texts(), QStringList{QStringLiteral("Scan Stopped")});
        const int sent = m_fakes->echo.sendCount;
        QTest::qWait(30);
        QCOMPARE(m_fakes->echo.sendCount, sent);
        QCOMPARE(w.results().rowCount(), sent);
    }

    void stop_duringACheck_letsTheCheckEndBeforeStopping()
    {
        app::MainWindow& w = open();
        m_fakes->echo.delayMs = 100;
        QTest::mouseClick(w.Command1, Qt::LeftButton);
        QTest::mouseClick(w.Command4, Qt::LeftButton);
        QVERIFY(!w.Command1->isEnabled()); // no second run inside this one
        QVERIFY(w.Command5->isEnabled());
        QTRY_COMPARE(m_fakes->messages.texts(), QStringList{QStringLiteral("Scan Stopped")});
        QCOMPARE(w.results().rowCount(), 1);
        QCOMPARE(buttonStates(), allEnabled());
    }

    void autoDisconnect_hangsUpAfterEveryCheck_andReportsAFailedHangUp()
    {
        app::MainWindow& w = open();
        w.Option2->click();
        QVERIFY(w.Check2->isChecked());
        w.Text5->setText(QStringLiteral("0"));
        m_fakes->connection.hangUpResult = false;
        QTest::mouseClick(w.Command1, Qt::LeftButton);
        QTRY_VERIFY(m_fakes->connection.hangUpCalls >= 2);
        QTest::mouseClick(w.Command4, Qt::LeftButton);
        QTRY_VERIFY(!w.run().isRunning());
        QCOMPARE(m_fakes->connection.hangUpCalls, m_fakes->echo.sendCount);
        QCOMPARE(m_fakes->connection.connectCalls, m_fakes->echo.sendCount);
        QVERIFY(
            m_fakes->messages.texts().contains(QStringLiteral("Cannot auto disconnect. Please disconnect manually")));
        QCOMPARE(m_fakes->messages.texts().last(), QStringLiteral("Scan Stopped"));
    }

    void alwaysOn_neverHangsUp()
    {
        app::MainWindow& w = open();
        w.Option1->click();
        w.Text5->setText(QStringLiteral("0"));
        QTest::mouseClick(w.Command1, Qt::LeftButton);
        QTRY_VERIFY(m_fakes->echo.sendCount >= 3);
        QTest::mouseClick(w.Command4, Qt::LeftButton);
        QTRY_VERIFY(!w.run().isRunning());
        QCOMPARE(m_fakes->connection.hangUpCalls, 0);
    }

    void closingTheWindowDuringARun_closesFilesWithoutScanStopped()
    {
        app::MainWindow& w = open();
        m_fakes->echo.delayMs = 200;
        QTest::mouseClick(w.Command1, Qt::LeftButton);
        QVERIFY(w.logFiles().isLogOpen());
        w.close();
        QVERIFY(!w.logFiles().isLogOpen());
        QTest::qWait(300);
        QVERIFY(m_fakes->messages.shown.isEmpty());
        QCOMPARE(w.results().rowCount(), 0);
        m_window.reset();
    }

    void secondRun_startsANewNumberedLogAndKeepsEarlierLines()
    {
        app::MainWindow& w = open();
        w.Text5->setText(QStringLiteral("300"));
        for (int run = 1; run <= 2; ++run) {
            QTest::mouseClick(w.Command1, Qt::LeftButton);
            QTRY_VERIFY(w.run().isWaiting());
            QTest::mouseClick(w.Command4, Qt::LeftButton);
            QTRY_VERIFY(!w.run().isRunning());
        }
        QVERIFY(QFileInfo::exists(file("logs/000001.log")));
        QVERIFY(QFileInfo::exists(file("logs/000002.log")));
        QCOMPARE(w.results().rowCount(), 2);
        QVERIFY(w.results().lines().at(1).startsWith(QStringLiteral("000001 ")));
    }
};

QTEST_MAIN(TestMonitorRun)
#include "tst_monitorrun.moc"
