#include "app/MainWindow.h"
#include "core/Monitor.h"
#include "support/AppFixture.h"
#include "support/Fakes.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace sondrel;
using namespace sondrel::test;

class TestMainWindow : public QObject, private AppFixture {
    Q_OBJECT
private:
    template <typename T> T* child(const char* name) { return m_window->findChild<T*>(QString::fromLatin1(name)); }

private slots:
    void init() { QVERIFY(renewFixture()); }
    void cleanup() { m_window.reset(); }

    void startUp_showsEveryControlWithItsCaptionAndFreshSlotDefaults()
    {
        app::MainWindow& w = openWindow();
        QCOMPARE(w.windowTitle(), QStringLiteral("Sondrel 1.2"));
        QCOMPARE(w.centralWidget()->size(), QSize(548, 431));

        const QList<QPair<const char*, QString>> buttons = {{"Command1", "Start"},
                                                            {"Command4", "Stop"},
                                                            {"Command6", "Clear List"},
                                                            {"Command5", "Exit"},
                                                            {"Command2", "Email"}};
        for (const auto& [name, caption] : buttons) {
            auto* b = child<QPushButton>(name);
            QVERIFY2(b, name);
            QCOMPARE(b->text(), caption);
            QVERIFY(b->isEnabled());
        }
        for (const char* name : {"Text1", "Text2", "Text3", "Text5", "Text6", "Text7", "Text4_0", "Text4_1", "Text4_2",
                                 "Text4_3", "Text4_4"})
            QVERIFY2(child<QLineEdit>(name), name);
        for (const char* name : {"Frame1", "Frame2", "Frame3", "Frame4", "Frame5", "Frame6"})
            QVERIFY2(child<QGroupBox>(name), name);
        for (const char* name : {"mnusave", "mnu1", "mnu2", "mnu3", "mnuHelp"})
            QVERIFY2(child<QAction>(name), name);
        QVERIFY(child<QMenu>("mnuSite") && child<QMenu>("mnuopen"));
        // The Site menu ends with the commands of the run's buttons, after a separator.
        const QList<QAction*> siteItems = child<QMenu>("mnuSite")->actions();
        QCOMPARE(siteItems.size(), 8);
        QCOMPARE(siteItems[2], child<QAction>("mnuAlerts"));
        QVERIFY(siteItems[3]->isSeparator());
        for (int i = 0; i < 4; ++i)
            QCOMPARE(siteItems[4 + i]->text(), buttons[i].second);
        QVERIFY(child<QListView>("List1"));

        QCOMPARE(child<QLineEdit>("Text3")->text(), QStringLiteral("Packet"));
        QCOMPARE(child<QLineEdit>("Text5")->text(), QStringLiteral("300"));
        QCOMPARE(child<QLineEdit>("Text5")->maxLength(), 5);
        QVERIFY(child<QLineEdit>("Text2")->isReadOnly());
        QVERIFY(child<QLineEdit>("Text4_0")->isHidden());
        QVERIFY(child<QLineEdit>("Text4_2")->isHidden());
        // A never-saved slot 1: Modem without auto disconnect, page check and notification off.
        QVERIFY(child<QRadioButton>("Option2")->isChecked());
        QVERIFY(!child<QCheckBox>("Check2")->isChecked());
        QVERIFY(child<QRadioButton>("Option6")->isChecked());
        QVERIFY(child<QRadioButton>("Option4")->isChecked());
        QVERIFY(child<QAction>("mnu1")->isChecked());
        QVERIFY(!child<QAction>("mnu2")->isChecked());

        QVERIFY(!child<QLabel>("Image1")->isHidden());
        QVERIFY(child<QLabel>("Image2")->isHidden());
        QVERIFY(child<QLabel>("Image3")->isHidden());
        QVERIFY(m_fakes->messages.shown.isEmpty());
    }

    void connectionOptions_lockOrTickAutoDisconnect()
    {
        app::MainWindow& w = openWindow();
        w.show();
        QTest::mouseClick(control<QRadioButton>(w, "Option1"), Qt::LeftButton);
        QVERIFY(!control<QCheckBox>(w, "Check2")->isChecked());
        QVERIFY(!control<QGroupBox>(w, "Frame2")->isEnabled());
        QTest::mouseClick(control<QRadioButton>(w, "Option2"), Qt::LeftButton);
        QVERIFY(control<QCheckBox>(w, "Check2")->isChecked());
        QVERIFY(control<QGroupBox>(w, "Frame2")->isEnabled());
        QTest::mouseClick(control<QCheckBox>(w, "Check2"), Qt::LeftButton);
        QVERIFY(!control<QCheckBox>(w, "Check2")->isChecked());
        QTest::mouseClick(control<QRadioButton>(w, "Option1"), Qt::LeftButton);
        QTest::mouseClick(control<QRadioButton>(w, "Option2"), Qt::LeftButton);
        QVERIFY(control<QCheckBox>(w, "Check2")->isChecked());
    }

    void openSiteItems_moveTheCheckMark()
    {
        app::MainWindow& w = openWindow();
        control<QAction>(w, "mnu3")->trigger();
        QVERIFY(!control<QAction>(w, "mnu1")->isChecked() && !control<QAction>(w, "mnu2")->isChecked() &&
                control<QAction>(w, "mnu3")->isChecked());
        control<QAction>(w, "mnu2")->trigger();
        QVERIFY(!control<QAction>(w, "mnu1")->isChecked() && control<QAction>(w, "mnu2")->isChecked() &&
                !control<QAction>(w, "mnu3")->isChecked());
        control<QAction>(w, "mnu2")->trigger();
        QVERIFY(control<QAction>(w, "mnu2")->isChecked());
    }

    void siteSlots_saveAndOpenThroughTheMenu()
    {
        app::MainWindow& w = openWindow();
        control<QAction>(w, "mnu2")->trigger();
        control<QLineEdit>(w, "Text1")->setText(QStringLiteral("  www.example.test  "));
        control<QLineEdit>(w, "Text3")->setText(QStringLiteral("Hello"));
        control<QLineEdit>(w, "Text5")->setText(QStringLiteral("60"));
        control<QLineEdit>(w, "Text7")->setText(QStringLiteral("Welcome"));
        control<QRadioButton>(w, "Option1")->click();
        control<QCheckBox>(w, "Check2")->setChecked(true); // only a stored slot can combine this with "Always On"
        control<QRadioButton>(w, "Option5")->setChecked(true);
        control<QRadioButton>(w, "Option3")->setChecked(true);
        control<QAction>(w, "mnusave")->trigger();

        control<QAction>(w, "mnu1")->trigger();
        QCOMPARE(control<QLineEdit>(w, "Text1")->text(), QString());
        QCOMPARE(control<QLineEdit>(w, "Text5")->text(), QStringLiteral("300"));
        QVERIFY(control<QRadioButton>(w, "Option2")->isChecked() && !control<QCheckBox>(w, "Check2")->isChecked());

        // Reopened after a restart.
        m_window.reset();
        app::MainWindow& again = openWindow();
        control<QAction>(again, "mnu2")->trigger();
        QCOMPARE(control<QLineEdit>(again, "Text1")->text(), QStringLiteral("www.example.test"));
        QCOMPARE(control<QLineEdit>(again, "Text3")->text(), QStringLiteral("Hello"));
        QCOMPARE(control<QLineEdit>(again, "Text5")->text(), QStringLiteral("60"));
        QCOMPARE(control<QLineEdit>(again, "Text7")->text(), QStringLiteral("Welcome"));
        QVERIFY(control<QRadioButton>(again, "Option1")->isChecked());
        QVERIFY(control<QCheckBox>(again, "Check2")->isChecked());
        QVERIFY(!control<QGroupBox>(again, "Frame2")->isEnabled());
        QVERIFY(control<QRadioButton>(again, "Option5")->isChecked() &&
                control<QRadioButton>(again, "Option3")->isChecked());
        QCOMPARE(QFileInfo(m_dir->path() + QStringLiteral("/data/init.dat")).size(), 2 * 775);
        QVERIFY(m_fakes->messages.shown.isEmpty());
    }

    void siteSlots_unreadableFile_isReportedAndLeavesTheFields()
    {
        app::MainWindow& w = openWindow();
        control<QLineEdit>(w, "Text1")->setText(QStringLiteral("kept.example.test"));
        QVERIFY(QDir(m_dir->path() + QStringLiteral("/data")).removeRecursively());
        QFile blocker(m_dir->path() + QStringLiteral("/data"));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        control<QAction>(w, "mnu3")->trigger();
        QCOMPARE(control<QLineEdit>(w, "Text1")->text(), QStringLiteral("kept.example.test"));
        QCOMPARE(m_fakes->messages.shown.size(), 1);
        QVERIFY(m_fakes->messages.shown.first().text.contains(QStringLiteral("init.dat")));
        control<QAction>(w, "mnusave")->trigger();
        QCOMPARE(m_fakes->messages.shown.size(), 2);
    }

    void help_opensTheHelpPageEachTimeOrSaysItIsMissing()
    {
        app::MainWindow& w = openWindow();
        control<QAction>(w, "mnuHelp")->trigger();
        control<QAction>(w, "mnuHelp")->trigger();
        QCOMPARE(m_fakes->shell.opened.size(), 2);
        QCOMPARE(m_fakes->shell.opened.first(), m_dir->path() + QStringLiteral("/SDR.html"));
        QVERIFY(m_fakes->messages.shown.isEmpty());
        m_fakes->shell.result = platform::DesktopShell::OpenResult::NotFound;
        control<QAction>(w, "mnuHelp")->trigger();
        QCOMPARE(m_fakes->messages.texts(),
                 QStringList{QStringLiteral("Cannot find Help file in the installation directory")});
    }

    void emailGrouping_reachesTheHubAtStartAndOnEachSave()
    {
        QFile stored(m_dir->path() + QStringLiteral("/data/mailsecurity.ini"));
        QVERIFY(stored.open(QIODevice::WriteOnly));
        stored.write("security=None\nuser=\ngroupSeconds=5\n");
        stored.close();
        app::MainWindow& w = openWindow();
        QCOMPARE(w.hub().groups().groupSeconds(), 5);

        QTest::mouseClick(control<QPushButton>(w, "Command2"), Qt::LeftButton);
        QWidget* email = nullptr;
        for (QWidget* top : QApplication::topLevelWidgets()) {
            if (top->objectName() == QStringLiteral("frmSendMail"))
                email = top;
        }
        QVERIFY(email);
        for (const char* name : {"txtHost", "txtSender", "txtRecipientName", "txtRecipient"})
            control<QLineEdit>(*email, name)->setText(QStringLiteral("x"));
        control<QLineEdit>(*email, "txtGroupSeconds")->setText(QStringLiteral("0"));
        QTest::mouseClick(control<QPushButton>(*email, "Command1"), Qt::LeftButton);
        QCOMPARE(m_fakes->messages.texts(), QStringList{QStringLiteral("Saved")});
        QCOMPARE(w.hub().groups().groupSeconds(), 0);
        control<QPushButton>(*email, "cmdClose")->click();
        QTRY_VERIFY(control<QPushButton>(w, "Command1")->isEnabled());
    }

    void clearList_emptiesTheResults()
    {
        app::MainWindow& w = openWindow();
        emit w.monitor().resultLineAdded(QStringLiteral("one"));
        emit w.monitor().resultLineAdded(QStringLiteral("two"));
        QTest::mouseClick(control<QPushButton>(w, "Command6"), Qt::LeftButton);
        QCOMPARE(resultLines(w), QStringList());
        emit w.monitor().resultLineAdded(QStringLiteral("three"));
        QTRY_COMPARE(resultLines(w), QStringList{QStringLiteral("three")});
        // The Site menu's Clear List, last but one, is the button's own command.
        control<QMenu>(w, "mnuSite")->actions().last(2).first()->trigger();
        QCOMPARE(resultLines(w), QStringList());
    }

    void eachStatus_showsExactlyOnePicture()
    {
        app::MainWindow& w = openWindow();
        using core::SiteStatus;
        const std::pair<SiteStatus, const char*> shown[] = {{SiteStatus::NotAnswering, "Image3"},
                                                            {SiteStatus::NoConnection, "Image2"},
                                                            {SiteStatus::Working, "Image1"},
                                                            {SiteStatus::NotAnswering, "Image3"}};
        for (const auto& [status, name] : shown) {
            emit w.monitor().statusChanged(status);
            QTRY_VERIFY(!control<QLabel>(w, name)->isHidden());
            int visible = 0;
            for (const char* each : {"Image1", "Image2", "Image3"})
                visible += control<QLabel>(w, each)->isHidden() ? 0 : 1;
            QCOMPARE(visible, 1);
            QVERIFY(!control<QLabel>(w, name)->isHidden());
        }
    }
};

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
