#include "app/MainWindow.h"
#include "core/Monitor.h"
#include "core/MonitorHub.h"
#include "store/SiteSettings.h"
#include "support/AppFixture.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QTableView>
#include <QTest>

using namespace sondrel;
using namespace sondrel::test;

namespace {

enum Column { Watch, Site, Address, State, LastResult, Average, Success, Changed };

// Site n of a list: names that resolve to loopback, and names that do not resolve at all, whose checks fail.
QString answering(int n)
{
    return QStringLiteral("www.site%1.example.test").arg(n, 2, 10, QLatin1Char('0'));
}
QString silent(int n)
{
    return QStringLiteral("down%1.example.test").arg(n, 2, 10, QLatin1Char('0'));
}

} // namespace

// The Sites window over a main window on fakes: the echo answers every name the resolver knows.
class TestSitesWindow : public QObject, private AppFixture {
    Q_OBJECT
private:
    QWidget* m_sites = nullptr;

    // The main window with the interval, packet string and choices that sites added from it take.
    app::MainWindow& open()
    {
        app::MainWindow& w = openWindow();
        control<QLineEdit>(w, "Text3")->setText(QStringLiteral("Probe"));
        control<QLineEdit>(w, "Text5")->setText(QStringLiteral("1"));
        control<QRadioButton>(w, "Option1")->click();
        control<QLineEdit>(w, "Text7")->setText(QStringLiteral("not for other sites"));
        control<QAction>(w, "mnuSites")->trigger();
        m_sites = nullptr;
        for (QWidget* top : QApplication::topLevelWidgets()) {
            if (top->objectName() == QStringLiteral("frmSites") && top->isVisible())
                m_sites = top;
        }
        if (!m_sites)
            qFatal("the Sites window did not open");
        return w;
    }
    QTableView* table() const { return control<QTableView>(*m_sites, "tblSites"); }
    QAbstractItemModel* rows() const { return table()->model(); }
    QString text(int row, int column) const { return rows()->index(row, column).data().toString(); }
    QStringList column(int column) const
    {
        QStringList texts;
        for (int row = 0; row < rows()->rowCount(); ++row)
            texts.append(text(row, column));
        return texts;
    }
    int rowOf(int site) const
    {
        for (int row = 0; row < rows()->rowCount(); ++row) {
            if (text(row, Site).toInt() == site)
                return row;
        }
        return -1;
    }
    void setWatch(int site, bool watch)
    {
        const int row = rowOf(site);
        QVERIFY(row >= 0);
        rows()->setData(rows()->index(row, Watch), watch ? Qt::Checked : Qt::Unchecked, Qt::CheckStateRole);
    }
    bool watched(int site) const
    {
        const int row = rowOf(site);
        return row >= 0 && rows()->index(row, Watch).data(Qt::CheckStateRole).value<Qt::CheckState>() == Qt::Checked;
    }
    void select(int site)
    {
        const int row = rowOf(site);
        QVERIFY(row >= 0);
        table()->selectRow(row);
    }
    QString statusLine() const { return control<QLabel>(*m_sites, "lblSitesStatus")->text(); }
    // Imports the file through the Import button's file dialog.
    void importFile(const QByteArray& content)
    {
        const QString path = m_dir->filePath(QStringLiteral("sites.txt"));
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        QCOMPARE(file.write(content), content.size());
        file.close();
        QTest::mouseClick(control<QPushButton>(*m_sites, "cmdImportSites"), Qt::LeftButton);
        auto* dialog = control<QFileDialog>(*m_sites, "dlgImportSites");
        dialog->selectFile(path);
        static_cast<QDialog*>(dialog)->accept(); // QFileDialog's own accept() takes the selected file
    }
    // A list of `count` sites that answer, and every tenth one a name that does not resolve.
    QByteArray siteList(int count)
    {
        QByteArray list;
        for (int n = 1; n <= count; ++n) {
            const QString name = n % 10 == 0 ? silent(n) : answering(n);
            if (n % 10 != 0)
                m_fakes->resolver.table.insert(name, QStringLiteral("127.0.0.1"));
            list += name.toUtf8() + (n % 2 ? "\n" : "\r\n");
        }
        return list;
    }

private slots:
    void init()
    {
        QVERIFY(renewFixture());
        m_sites = nullptr;
    }
    void cleanup() { m_window.reset(); }

    void import_savesEachGoodLineWithTheWindowsChoices_andListsTheRefused()
    {
        app::MainWindow& w = open();
        QCOMPARE(rows()->rowCount(), 0);
        QCOMPARE(control<QAction>(w, "mnuSites")->text(), QStringLiteral("Sites"));
        QCOMPARE(m_sites->windowTitle(), QStringLiteral("Sites"));
        const std::pair<const char*, const char*> buttons[] = {
            {"cmdWatchAll", "Watch All"}, {"cmdStopAll", "Stop All"}, {"cmdAddSite", "Add"},
            {"cmdRemoveSite", "Remove"},  {"cmdOpenSite", "Open"},    {"cmdImportSites", "Import"}};
        for (const auto& [name, caption] : buttons)
            QCOMPARE(control<QPushButton>(*m_sites, name)->text(), QLatin1String(caption));
        QStringList headers;
        for (int section = 0; section < rows()->columnCount(); ++section)
            headers.append(rows()->headerData(section, Qt::Horizontal).toString());
        QCOMPARE(headers, (QStringList{"Watch", "Site", "Web Address", "State", "Last Result", "Average", "Success",
                                       "Changed"}));
        QByteArray list = siteList(50);
        list.insert(0, "# my sites\n\nnot an address\n");
        list += "ftp://files.example.test\n" + answering(1).toUpper().toUtf8() + "\n";
        importFile(list);

        QCOMPARE(m_fakes->messages.shown.size(), 1);
        QCOMPARE(
            m_fakes->messages.shown.first().text,
            QStringLiteral("50 sites were imported from %1.\n\nThese lines were not imported:\n"
                           "Line 3: not an address (contains a space)\n"
                           "Line 54: ftp://files.example.test (not a web address)\n"
                           "Line 55: %2 (listed twice)")
                .arg(QDir::toNativeSeparators(m_dir->filePath(QStringLiteral("sites.txt"))), answering(1).toUpper()));
        QCOMPARE(rows()->rowCount(), 50);
        QCOMPARE(column(Site).first(), QStringLiteral("1"));
        QCOMPARE(column(Address).at(9), silent(10));
        QCOMPARE(column(State), QStringList(50, QStringLiteral("not watched")));
        QCOMPARE(statusLine(), QStringLiteral("50 sites, 0 watched, 0 up, 0 down"));

        // Stored with the window's packet string, interval and choices, but not its main site string.
        const auto stored = store::SiteSettingsFile(m_dir->path()).loadAll();
        QVERIFY(stored && stored->size() == 50);
        const store::SiteSettings& site7 = (*stored)[6];
        QCOMPARE(site7.webAddress, answering(7));
        QCOMPARE(site7.packetString, QStringLiteral("Probe"));
        QCOMPARE(site7.interval, qint16(1));
        QCOMPARE(site7.connectionType, qint16(-1));
        QCOMPARE(site7.mainSiteString, QString());

        // Nothing is taken twice; a site added by hand takes the first free number and the same choices.
        importFile(siteList(2));
        QVERIFY(m_fakes->messages.shown.last().text.endsWith(QStringLiteral("(already a site)")));
        QCOMPARE(rows()->rowCount(), 50);
        select(4);
        m_fakes->messages.askAnswer = true;
        QTest::mouseClick(control<QPushButton>(*m_sites, "cmdRemoveSite"), Qt::LeftButton);
        QCOMPARE(m_fakes->messages.shown.last().text,
                 QStringLiteral("Remove site 4 (%1)? Its settings are deleted; its logs are kept.").arg(answering(4)));
        QCOMPARE(rowOf(4), -1);
        QTest::mouseClick(control<QPushButton>(*m_sites, "cmdAddSite"), Qt::LeftButton);
        auto* add = control<QInputDialog>(*m_sites, "dlgAddSite");
        add->setTextValue(QStringLiteral("https://new.example.test/status"));
        add->accept();
        QCOMPARE(text(rowOf(4), Address), QStringLiteral("https://new.example.test/status"));
        QCOMPARE(store::SiteSettingsFile(m_dir->path()).load(4)->packetString, QStringLiteral("Probe"));
        QCOMPARE(w.hub().watchedCount(), 0);
    }

    void watchAll_bringsEveryRowAlive_filtersFollow_andStopAllEndsThemQuietly()
    {
        app::MainWindow& w = open();
        importFile(siteList(50));
        m_fakes->messages.shown.clear();
        QTest::mouseClick(control<QPushButton>(*m_sites, "cmdWatchAll"), Qt::LeftButton);
        QCOMPARE(w.hub().watchedCount(), 50);
        QVERIFY(!w.monitor().isRunning()); // the window's own run is not one of them

        // Every site is checked within its first interval of a second, and again after.
        QTRY_VERIFY_WITH_TIMEOUT(!column(Success).contains(QString()), 10000);
        QTRY_COMPARE_WITH_TIMEOUT(statusLine(), QStringLiteral("50 sites, 50 watched, 45 up, 5 down"), 5000);
        const int up = rowOf(7);
        const int down = rowOf(10);
        QCOMPARE(text(up, State), QStringLiteral("working"));
        QCOMPARE(text(up, LastResult), QStringLiteral("0 ms"));
        QCOMPARE(text(up, Average), QStringLiteral("0 ms"));
        QCOMPARE(text(up, Success), QStringLiteral("100 %"));
        QVERIFY(!text(up, Changed).isEmpty());
        QCOMPARE(text(down, State), QStringLiteral("not answering"));
        QVERIFY2(text(down, LastResult).contains(QStringLiteral("[ ")), qPrintable(text(down, LastResult)));
        QCOMPARE(text(down, Average), QString());
        QCOMPARE(text(down, Success), QStringLiteral("0 %"));
        QVERIFY(QFileInfo::exists(m_dir->filePath(QStringLiteral("logs/site-7/000001.log"))));

        // By text, by state, and both; sorting by a column keeps every row.
        QTest::keyClicks(control<QLineEdit>(*m_sites, "txtSiteFilter"), "SITE07");
        QCOMPARE(column(Address), QStringList{answering(7)});
        control<QLineEdit>(*m_sites, "txtSiteFilter")->clear();
        auto* state = control<QComboBox>(*m_sites, "cboSiteState");
        QCOMPARE(state->count(), 5);
        state->setCurrentText(QStringLiteral("not answering"));
        QCOMPARE(column(Site), (QStringList{QStringLiteral("10"), QStringLiteral("20"), QStringLiteral("30"),
                                            QStringLiteral("40"), QStringLiteral("50")}));
        QTest::keyClicks(control<QLineEdit>(*m_sites, "txtSiteFilter"), "3");
        QCOMPARE(column(Site), QStringList{QStringLiteral("30")});
        control<QLineEdit>(*m_sites, "txtSiteFilter")->clear();
        state->setCurrentText(QStringLiteral("all states"));
        table()->sortByColumn(State, Qt::DescendingOrder);
        QCOMPARE(rows()->rowCount(), 50);
        QCOMPARE(text(0, State), QStringLiteral("not answering"));
        QCOMPARE(text(49, State), QStringLiteral("working"));

        QTest::mouseClick(control<QPushButton>(*m_sites, "cmdStopAll"), Qt::LeftButton);
        QTRY_COMPARE(w.hub().watchedCount(), 0);
        QTRY_COMPARE(column(State), QStringList(50, QStringLiteral("not watched")));
        QTRY_VERIFY2(statusLine().startsWith(QStringLiteral("50 sites, 0 watched, 0 up, 0 down. ")),
                     qPrintable(statusLine()));
        QVERIFY(statusLine().endsWith(QStringLiteral(": Scan Stopped")));
        QCOMPARE(m_fakes->messages.texts(), QStringList());
    }

    void lostConnection_isToldOnceWhileTheRunsGoOn()
    {
        app::MainWindow& w = open();
        importFile(siteList(20));
        m_fakes->connection.connectResult = false;
        QTest::mouseClick(control<QPushButton>(*m_sites, "cmdWatchAll"), Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(column(State), QStringList(20, QStringLiteral("no connection")), 5000);
        QCOMPARE(column(LastResult), QStringList(20, QStringLiteral("Failed to connect to internet!")));
        QTRY_COMPARE(m_sites->findChildren<QMessageBox*>().size(), 1);
        QMessageBox* box = m_sites->findChild<QMessageBox*>(QStringLiteral("msgConnectionLost"));
        QCOMPARE(box->text(), QStringLiteral("Failed to connect to internet!"));
        QVERIFY(box->isVisible() && !box->isModal());
        QVERIFY(statusLine().contains(QStringLiteral("Failed to connect to internet!")));
        QCOMPARE(w.hub().watchedCount(), 20);
        QCOMPARE(m_fakes->messages.shown.size(), 1); // the import's

        m_fakes->connection.connectResult = true;
        QTRY_VERIFY_WITH_TIMEOUT(m_sites->findChildren<QMessageBox*>().isEmpty(), 5000);
        QTRY_VERIFY(!statusLine().contains(QStringLiteral("Failed to connect")));
        QTRY_VERIFY_WITH_TIMEOUT(!column(State).contains(QStringLiteral("no connection")), 5000);
    }

    void oneRunPerSite_data()
    {
        QTest::addColumn<int>("site");
        QTest::newRow("a site of the Site menu") << 2;
        QTest::newRow("a site above 3") << 5;
    }
    void oneRunPerSite()
    {
        QFETCH(int, site);
        app::MainWindow& w = open();
        importFile(siteList(6));
        m_fakes->messages.shown.clear();
        core::Monitor& own = w.hub().run(0);

        // Start on a site watched in the background shows that run, and Stop ends it.
        setWatch(site, true);
        core::Monitor* background = w.hub().existingSiteRun(site);
        QVERIFY(background && background->isRunning());
        QVERIFY(watched(site));
        select(site);
        QTest::mouseClick(control<QPushButton>(*m_sites, "cmdOpenSite"), Qt::LeftButton);
        QCOMPARE(control<QLineEdit>(w, "Text1")->text(), answering(site));
        for (const int menuSite : {1, 2, 3})
            QCOMPARE(control<QAction>(w, qPrintable(QStringLiteral("mnu%1").arg(menuSite)))->isChecked(),
                     menuSite == site);
        QTest::mouseClick(control<QPushButton>(w, "Command1"), Qt::LeftButton);
        QCOMPARE(&w.monitor(), background);
        QVERIFY(!own.isRunning());
        QCOMPARE(w.hub().watchedCount(), 1);
        QVERIFY(!control<QPushButton>(w, "Command1")->isEnabled() && control<QPushButton>(w, "Command4")->isEnabled());
        QTRY_VERIFY(!control<QLineEdit>(w, "Text6")->text().isEmpty());
        QVERIFY(!QFileInfo::exists(m_dir->filePath(QStringLiteral("logs/000001.log"))));
        QTest::mouseClick(control<QPushButton>(w, "Command4"), Qt::LeftButton);
        QTRY_VERIFY(!background->isRunning());
        QCOMPARE(&w.monitor(), &own);
        QVERIFY(control<QPushButton>(w, "Command1")->isEnabled());
        QTRY_VERIFY(!watched(site));

        // The window's own run on a site: the row shows it watched, and Watch starts no second run.
        const int other = site + 1;
        w.openSite(other);
        QTest::mouseClick(control<QPushButton>(w, "Command1"), Qt::LeftButton);
        QVERIFY(own.isRunning());
        QCOMPARE(w.hub().runningSite(other), &own);
        QTRY_VERIFY(watched(other));
        setWatch(other, true);
        QCOMPARE(w.hub().existingSiteRun(other), nullptr);
        QCOMPARE(w.hub().watchedCount(), 1);
        QTest::mouseClick(control<QPushButton>(*m_sites, "cmdWatchAll"), Qt::LeftButton);
        QCOMPARE(w.hub().watchedCount(), 6);
        QCOMPARE(w.hub().existingSiteRun(other), nullptr);

        // A watched site cannot be removed.
        select(other);
        QTest::mouseClick(control<QPushButton>(*m_sites, "cmdRemoveSite"), Qt::LeftButton);
        QCOMPARE(m_fakes->messages.texts().last(),
                 QStringLiteral("These sites are being watched: site %1 (%2). Stop watching them before removing "
                                "them.")
                     .arg(other)
                     .arg(answering(other)));
        QVERIFY(rowOf(other) >= 0);

        QTest::mouseClick(control<QPushButton>(*m_sites, "cmdStopAll"), Qt::LeftButton);
        QTest::mouseClick(control<QPushButton>(w, "Command4"), Qt::LeftButton);
        QTRY_COMPARE(w.hub().watchedCount(), 0);
        QTRY_VERIFY(!watched(other));
        QCOMPARE(w.hub().runningSite(other), nullptr);
    }
};

QTEST_MAIN(TestSitesWindow)
#include "tst_siteswindow.moc"
