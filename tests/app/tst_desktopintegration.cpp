#include "app/MainWindow.h"
#include "app/TrayIcon.h"
#include "platform/FreedesktopNotifier.h"
#include "store/SiteSettings.h"
#include "support/AppFixture.h"

#include <QAction>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDeadlineTimer>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QSystemTrayIcon>
#include <QTest>

using namespace sondrel;
using namespace sondrel::test;

// The desktop's notification service on a bus connection of its own, so that every call from the program goes
// through the bus daemon. It records each Notify; with holdReplies it answers none until it ends.
class NotificationServer final : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public:
    struct Call {
        QString appName, icon, summary, body;
    };
    ~NotificationServer() override
    {
        for (const QDBusMessage& reply : std::as_const(m_held))
            m_bus.send(reply);
        QDBusConnection::disconnectFromBus(m_bus.name());
    }
    bool start()
    {
        return m_bus.registerObject(QStringLiteral("/org/freedesktop/Notifications"), this,
                                    QDBusConnection::ExportAllSlots) &&
               m_bus.registerService(QStringLiteral("org.freedesktop.Notifications"));
    }
    QList<Call> calls;
    bool holdReplies = false;

public slots:
    uint Notify(const QString& appName, uint, const QString& icon, const QString& summary, const QString& body,
                const QStringList&, const QVariantMap&, int, const QDBusMessage& message)
    {
        calls.append({appName, icon, summary, body});
        if (holdReplies) {
            message.setDelayedReply(true);
            m_held.append(message.createReply(uint(calls.size())));
        }
        return uint(calls.size());
    }

private:
    QDBusConnection m_bus = QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("server"));
    QList<QDBusMessage> m_held;
};

class TestDesktopIntegration : public QObject, private AppFixture {
    Q_OBJECT
    // "running": an X server with a system tray and a private session bus (with-desktop.sh); "absent": no bus.
    const QByteArray m_desktop = qgetenv("SONDREL_DESKTOP");
    platform::FreedesktopNotifier m_notifier;

    static QImage picture(const QIcon& icon)
    {
        return icon.pixmap(QSize(32, 32)).toImage().convertToFormat(QImage::Format_ARGB32_Premultiplied);
    }
    static QImage face(app::Face face, bool pageTextMissing)
    {
        return picture(QIcon(app::trayPicture(face, pageTextMissing)));
    }
    // A window on the real notifier whose site never answers; every check follows the last at once.
    app::MainWindow& openFailingSite()
    {
        m_fakes->notifier = &m_notifier;
        m_fakes->resolver.table.insert(QStringLiteral("www.example.test"), QStringLiteral("127.0.0.1"));
        m_fakes->echo.nextReply = [](quint32 address, const QByteArray&) {
            EchoReply reply;
            reply.address = address;
            reply.status = IpStatus::ReqTimedOut;
            return reply;
        };
        app::MainWindow& w = openWindow();
        control<QLineEdit>(w, "Text1")->setText(QStringLiteral("www.example.test"));
        control<QLineEdit>(w, "Text5")->setText(QStringLiteral("0"));
        return w;
    }
    void runChecks(app::MainWindow& w, int checks)
    {
        const qsizetype before = resultLines(w).size();
        m_fakes->messages.shown.clear();
        QTest::mouseClick(control<QPushButton>(w, "Command1"), Qt::LeftButton);
        QTRY_VERIFY(resultLines(w).size() >= before + checks);
        QTest::mouseClick(control<QPushButton>(w, "Command4"), Qt::LeftButton);
        QTRY_COMPARE(m_fakes->messages.texts(), QStringList{QStringLiteral("Scan Stopped")});
    }
    // Everything the program sent before has reached the server, as one connection's messages stay in order.
    void awaitDelivery(NotificationServer& server)
    {
        m_notifier.notify(QStringLiteral("sentinel"), QString(), QString());
        QTRY_VERIFY(!server.calls.isEmpty() && server.calls.last().summary == QStringLiteral("sentinel"));
        server.calls.removeLast();
    }

private slots:
    void init()
    {
        QVERIFY(renewFixture());
        if (m_desktop != "running" && !QByteArray(QTest::currentTestFunction()).startsWith("without"))
            QSKIP("needs an X server with a system tray and a session bus: registered through with-desktop.sh");
    }
    void cleanup() { m_window.reset(); }

    void tray_showsTheStatusAndDrivesTheRunLikeTheButtons()
    {
        QTRY_VERIFY(QSystemTrayIcon::isSystemTrayAvailable());
        app::MainWindow& w = openFailingSite();
        w.show();
        auto* tray = w.findChild<QSystemTrayIcon*>(QStringLiteral("trayIcon"));
        QVERIFY(tray && tray->isVisible());
        QTRY_VERIFY(!tray->geometry().isEmpty()); // embedded in the tray
        QCOMPARE(picture(tray->icon()), face(app::Face::Smiling, false));
        QAction* start = control<QAction>(w, "actStart");
        QAction* stop = control<QAction>(w, "actStop");
        QAction* exit = control<QAction>(w, "actExit");

        // The echo fails and the page comes without the text.
        control<QRadioButton>(w, "Option5")->setChecked(true);
        control<QLineEdit>(w, "Text7")->setText(QStringLiteral("welcome"));
        m_fakes->http.body = "<p>closed for the day</p>";
        QVERIFY(start->isEnabled() && stop->isEnabled() && exit->isEnabled());
        start->trigger();
        QVERIFY(w.monitor().isRunning());
        QVERIFY(!start->isEnabled() && !exit->isEnabled() && stop->isEnabled());
        QTRY_COMPARE(picture(tray->icon()), face(app::Face::Sad, true));
        stop->trigger();
        QTRY_COMPARE(m_fakes->messages.texts(), QStringList{QStringLiteral("Scan Stopped")});
        QVERIFY(start->isEnabled() && exit->isEnabled());
        QTRY_VERIFY(tray->toolTip().endsWith(resultLines(w).last() +
                                             QStringLiteral("\nThe main site string was not found on the page")));
        QVERIFY(tray->toolTip().contains(control<QLineEdit>(w, "Text4_0")->text()));

        // No connection gives the straight face; the badge goes once a check finds the text.
        m_fakes->connection.connectResult = false;
        start->trigger();
        QTRY_COMPARE(picture(tray->icon()), face(app::Face::Straight, true));
        QVERIFY(tray->toolTip().contains(QStringLiteral("Failed to connect to internet!")));
        QTRY_VERIFY(start->isEnabled());
        m_fakes->connection.connectResult = true;
        m_fakes->echo.nextReply = nullptr;
        m_fakes->http.body = "<p>welcome</p>";
        start->trigger();
        QTRY_COMPARE(picture(tray->icon()), face(app::Face::Smiling, false));
        stop->trigger();
        QTRY_VERIFY(!w.monitor().isRunning());

        // The e-mail window locks the main window and so Start and Exit, but not Show.
        QTest::mouseClick(control<QPushButton>(w, "Command2"), Qt::LeftButton);
        QVERIFY(!start->isEnabled() && !exit->isEnabled());
        QVERIFY(tray->contextMenu()->isEnabled() && control<QAction>(w, "trayShow")->isEnabled());
        for (QWidget* top : QApplication::topLevelWidgets()) {
            if (auto* close = top->findChild<QPushButton*>(QStringLiteral("cmdClose")))
                close->click();
        }
        QTRY_VERIFY(start->isEnabled() && exit->isEnabled());
        w.hide();
        control<QAction>(w, "trayShow")->trigger();
        QTRY_VERIFY(w.isVisible());
    }

    void notifications_followTheMenuChoice_andSurviveARestart()
    {
        NotificationServer server;
        QVERIFY(server.start());
        app::MainWindow* w = &openFailingSite();
        QVERIFY(!control<QAction>(*w, "mnuNotify")->isChecked());
        runChecks(*w, 3);
        awaitDelivery(server);
        QCOMPARE(server.calls.size(), 0);

        control<QAction>(*w, "mnuNotify")->trigger();
        const qsizetype before = resultLines(*w).size();
        runChecks(*w, 3);
        awaitDelivery(server);
        QCOMPARE(server.calls.size(), 1);
        QCOMPARE(server.calls[0].appName, QStringLiteral("Sondrel"));
        QCOMPARE(server.calls[0].icon, QStringLiteral("io.github.sondrel.Sondrel"));
        QCOMPARE(server.calls[0].summary, QStringLiteral("www.example.test is not answering"));
        QCOMPARE(server.calls[0].body, resultLines(*w).at(before)); // the second run's first check
        QVERIFY(server.calls[0].body.contains(QStringLiteral("Failed to ping!")));

        m_fakes->messages.shown.clear();
        m_window.reset();
        w = &openWindow();
        QVERIFY(control<QAction>(*w, "mnuNotify")->isChecked());
        control<QAction>(*w, "mnuNotify")->trigger();
        m_window.reset();
        QVERIFY(!control<QAction>(openWindow(), "mnuNotify")->isChecked());
        QVERIFY(m_fakes->messages.texts().isEmpty());
    }

    void sitesWatchedInTheBackground_shareTheTray_andEachNotificationNamesItsSite()
    {
        QTRY_VERIFY(QSystemTrayIcon::isSystemTrayAvailable());
        NotificationServer server;
        QVERIFY(server.start());
        m_fakes->notifier = &m_notifier;
        // Two sites answer, four have names that do not resolve; each is checked every second.
        std::vector<std::pair<int, store::SiteSettings>> sites;
        for (int site = 1; site <= 6; ++site) {
            store::SiteSettings settings;
            settings.webAddress = site <= 2 ? QStringLiteral("up%1.example.test").arg(site)
                                            : QStringLiteral("down%1.example.test").arg(site);
            settings.interval = 1;
            sites.emplace_back(site, settings);
            m_fakes->resolver.table.insert(QStringLiteral("up%1.example.test").arg(site), QStringLiteral("127.0.0.1"));
        }
        QVERIFY(store::SiteSettingsFile(m_dir->path()).saveMany(sites));
        app::MainWindow& w = openWindow();
        auto* tray = w.findChild<QSystemTrayIcon*>(QStringLiteral("trayIcon"));
        QVERIFY(tray);
        const QString windowTip = tray->toolTip();
        control<QAction>(w, "mnuNotify")->trigger();
        control<QAction>(w, "mnuSites")->trigger();
        QWidget* sitesWindow = nullptr;
        for (QWidget* top : QApplication::topLevelWidgets()) {
            if (top->objectName() == QStringLiteral("frmSites"))
                sitesWindow = top;
        }
        QVERIFY(sitesWindow);

        QTest::mouseClick(control<QPushButton>(*sitesWindow, "cmdWatchAll"), Qt::LeftButton);
        QTRY_COMPARE(picture(tray->icon()), face(app::Face::Sad, false));
        QTRY_COMPARE(tray->toolTip(), QStringLiteral("Sondrel\n2 sites up, 4 down: down3.example.test, "
                                                     "down4.example.test, down5.example.test and 1 more"));
        awaitDelivery(server);
        QStringList summaries;
        for (const NotificationServer::Call& call : std::as_const(server.calls)) {
            summaries.append(call.summary);
            QVERIFY(call.body.contains(QStringLiteral("Failed to ping!")));
        }
        summaries.sort();
        QCOMPARE(summaries,
                 (QStringList{"down3.example.test is not answering", "down4.example.test is not answering",
                              "down5.example.test is not answering", "down6.example.test is not answering"}));

        // When they end the tray tells the window's own run again, as before.
        QTest::mouseClick(control<QPushButton>(*sitesWindow, "cmdStopAll"), Qt::LeftButton);
        QTRY_COMPARE(w.hub().watchedCount(), 0);
        QTRY_COMPARE(tray->toolTip(), windowTip);
        QCOMPARE(picture(tray->icon()), face(app::Face::Smiling, false));
    }

    void notifications_neverHoldTheRun_data()
    {
        QTest::addColumn<bool>("serverThere");
        QTest::newRow("server that does not answer") << true;
        QTest::newRow("no server") << false;
    }
    void notifications_neverHoldTheRun()
    {
        QFETCH(bool, serverThere);
        NotificationServer server;
        server.holdReplies = true;
        if (serverThere)
            QVERIFY(server.start());
        app::MainWindow& w = openFailingSite();
        control<QAction>(w, "mnuNotify")->trigger();
        QTest::mouseClick(control<QPushButton>(w, "Command1"), Qt::LeftButton);
        // The server shares this thread: a call that waited for its reply would hold both until the call's own
        // time-out, far beyond this bound. QTRY cannot tell, as it counts its steps rather than the time they take.
        const QDeadlineTimer bound(5000);
        auto done = [&] { return server.calls.size() == (serverThere ? 1 : 0) && resultLines(w).size() >= 5; };
        while (!done() && !bound.hasExpired())
            QTest::qWait(10);
        QVERIFY(done());
        QTest::mouseClick(control<QPushButton>(w, "Command4"), Qt::LeftButton);
        QTRY_COMPARE(m_fakes->messages.texts(), QStringList{QStringLiteral("Scan Stopped")});
    }

    void withoutABusOrATray_aRunWithNotificationsGoesOn()
    {
        if (m_desktop != "absent")
            QSKIP("needs a session bus address that leads nowhere: registered with one");
        app::MainWindow& w = openFailingSite();
        QVERIFY(!w.findChild<QSystemTrayIcon*>());
        control<QAction>(w, "mnuNotify")->trigger();
        runChecks(w, 5);
        QVERIFY(resultLines(w).first().contains(QStringLiteral("Failed to ping!")));
    }
};

QTEST_MAIN(TestDesktopIntegration)
#include "tst_desktopintegration.moc"
