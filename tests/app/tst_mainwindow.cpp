#include "app/MainWindow.h"
#include "support/AppFixture.h"
#include "support/Fakes.h"

#include <QAction>
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
        QTest::mouseClick(w.Option1, Qt::LeftButton);
        QVERIFY(!w.Check2->isChecked());
        QVERIFY(!w.Frame2->isEnabled());
        QTest::mouseClick(w.Option2, Qt::LeftButton);
        QVERIFY(w.Check2->isChecked());
        QVERIFY(w.Frame2->isEnabled());
        QTest::mouseClick(w.Check2, Qt::LeftButton);
        QVERIFY(!w.Check2->isChecked());
        QTest::mouseClick(w.Option1, Qt::LeftButton);
        QTest::mouseClick(w.Option2, Qt::LeftButton);
        QVERIFY(w.Check2->isChecked());
    }

    void openSiteItems_moveTheCheckMark()
    {
        app::MainWindow& w = openWindow();
        w.mnu3->trigger();
        QVERIFY(!w.mnu1->isChecked() && !w.mnu2->isChecked() && w.mnu3->isChecked());
        w.mnu2->trigger();
        QVERIFY(!w.mnu1->isChecked() && w.mnu2->isChecked() && !w.mnu3->isChecked());
        w.mnu2->trigger();
        QVERIFY(w.mnu2->isChecked());
    }

    void siteSlots_saveAndOpenThroughTheMenu()
    {
        app::MainWindow& w = openWindow();
        w.mnu2->trigger();
        w.Text1->setText(QStringLiteral("  www.example.test  "));
        w.Text3->setText(QStringLiteral("Hello"));
        w.Text5->setText(QStringLiteral("60"));
        w.Text7->setText(QStringLiteral("Welcome"));
        w.Option1->click();
        w.Check2->setChecked(true); // only a stored slot can combine this with "Always On"
        w.Option5->setChecked(true);
        w.Option3->setChecked(true);
        w.mnusave->trigger();

        w.mnu1->trigger();
        QCOMPARE(w.Text1->text(), QString());
        QCOMPARE(w.Text5->text(), QStringLiteral("300"));
        QVERIFY(w.Option2->isChecked() && !w.Check2->isChecked());

        // Reopened after a restart.
        m_window.reset();
        app::MainWindow& again = openWindow();
        again.mnu2->trigger();
        QCOMPARE(again.Text1->text(), QStringLiteral("www.example.test"));
        QCOMPARE(again.Text3->text(), QStringLiteral("Hello"));
        QCOMPARE(again.Text5->text(), QStringLiteral("60"));
        QCOMPARE(again.Text7->text(), QStringLiteral("Welcome"));
        QVERIFY(again.Option1->isChecked());
        QVERIFY(again.Check2->isChecked());
        QVERIFY(!again.Frame2->isEnabled());
        QVERIFY(again.Option5->isChecked() && again.Option3->isChecked());
        QCOMPARE(QFileInfo(m_dir->path() + QStringLiteral("/data/init.dat")).size(), 2 * 775);
        QVERIFY(m_fakes->messages.shown.isEmpty());
    }

    void siteSlots_unreadableFile_isReportedAndLeavesTheFields()
    {
        app::MainWindow& w = openWindow();
        w.Text1->setText(QStringLiteral("kept.example.test"));
        QVERIFY(QDir(m_dir->path() + QStringLiteral("/data")).removeRecursively());
        QFile blocker(m_dir->path() + QStringLiteral("/data"));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        w.mnu3->trigger();
        QCOMPARE(w.Text1->text(), QStringLiteral("kept.example.test"));
        QCOMPARE(m_fakes->messages.shown.size(), 1);
        QVERIFY(m_fakes->messages.shown.first().text.contains(QStringLiteral("init.dat")));
        w.mnusave->trigger();
        QCOMPARE(m_fakes->messages.shown.size(), 2);
    }

    void help_opensTheHelpPageEachTimeOrSaysItIsMissing()
    {
        app::MainWindow& w = openWindow();
        w.mnuHelp->trigger();
        w.mnuHelp->trigger();
        QCOMPARE(m_fakes->shell.opened.size(), 2);
        QCOMPARE(m_fakes->shell.opened.first(), m_dir->path() + QStringLiteral("/SDR.html"));
        QVERIFY(m_fakes->messages.shown.isEmpty());
        m_fakes->shell.result = platform::DesktopShell::OpenResult::NotFound;
        w.mnuHelp->trigger();
        QCOMPARE(m_fakes->messages.texts(),
                 QStringList{QStringLiteral("Cannot find Help file in the installation directory")});
    }

    void clearList_emptiesTheResults()
    {
        app::MainWindow& w = openWindow();
        w.addResultLine(QStringLiteral("one"));
        w.addResultLine(QStringLiteral("two"));
        QTest::mouseClick(w.Command6, Qt::LeftButton);
        QCOMPARE(w.results().rowCount(), 0);
        w.addResultLine(QStringLiteral("three"));
        QCOMPARE(w.results().lines(), QStringList{QStringLiteral("three")});
    }

    void showImage_keepsExactlyOnePictureVisible()
    {
        app::MainWindow& w = openWindow();
        for (QLabel* image : {w.Image3, w.Image2, w.Image1, w.Image3}) {
            w.showImage(image);
            int visible = 0;
            for (QLabel* each : {w.Image1, w.Image2, w.Image3})
                visible += each->isHidden() ? 0 : 1;
            QCOMPARE(visible, 1);
            QVERIFY(!image->isHidden());
        }
    }
};

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
