#include "app/MainWindow.h"
#include "core/Monitor.h"
#include "probe/ResultLine.h"
#include "store/AlertSettingsFile.h"
#include "support/AppFixture.h"

#include <QApplication>
#include <QCheckBox>
#include <QDialog>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

using namespace sondrel;
using namespace sondrel::test;

// "Alert Settings" of the open site slot, and the snooze as the main window shows it.
class TestAlertsWindow : public QObject, private AppFixture {
    Q_OBJECT
private:
    QString alertsPath() const { return m_dir->filePath(QStringLiteral("data/alerts.ini")); }
    QByteArray bytes(const QString& name) const
    {
        QFile file(m_dir->filePath(name));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(missing)");
    }
    QDialog* openAlerts()
    {
        control<QAction>(*m_window, "mnuAlerts")->trigger();
        QDialog* dialog = control<QDialog>(*m_window, "frmAlerts");
        if (!dialog->isVisible())
            qFatal("the alert settings are not shown");
        return dialog;
    }
    void openSite(int site)
    {
        control<QAction>(*m_window, QStringLiteral("mnu%1").arg(site).toLatin1().constData())->trigger();
    }
    void setField(QDialog* dialog, const char* name, const QString& text)
    {
        control<QLineEdit>(*dialog, name)->setText(text);
    }

private slots:
    void init() { QVERIFY(renewFixture()); }
    void cleanup() { m_window.reset(); }

    void badValue_namesTheFieldAndItsRange_andKeepsTheWindowOpen_data()
    {
        QTest::addColumn<QByteArray>("field");
        QTest::addColumn<QString>("value");
        QTest::addColumn<QString>("message");
        const QString failures = QStringLiteral("\"Failures before alert\" must be a whole number from 1 to 100.");
        const QString reminder = QStringLiteral("\"Remind every (minutes)\" must be a whole number from 0 to 10080.");
        const QString days =
            QStringLiteral("\"Warn days before the certificate expires\" must be a whole number from 0 to 365.");
        QTest::newRow("no failures") << QByteArray("txtFailures") << "0" << failures;
        QTest::newRow("empty") << QByteArray("txtFailures") << "" << failures;
        QTest::newRow("too many successes") << QByteArray("txtRecoveries") << "101"
                                            << "\"Successes before recovery\" must be a whole number from 1 to 100.";
        QTest::newRow("not a number") << QByteArray("txtReminder") << "15 min" << reminder;
        QTest::newRow("over a week") << QByteArray("txtReminder") << "10081" << reminder;
        QTest::newRow("negative")
            << QByteArray("txtSlowMs") << "-1"
            << "\"Warn when a check takes longer than (ms)\" must be a whole number from 0 to 600000.";
        QTest::newRow("fraction") << QByteArray("txtCertDays") << "1.5" << days;
        QTest::newRow("over a year") << QByteArray("txtCertDays") << "366" << days;
    }
    void badValue_namesTheFieldAndItsRange_andKeepsTheWindowOpen()
    {
        QFETCH(QByteArray, field);
        QFETCH(QString, value);
        QFETCH(QString, message);
        openWindow();
        QDialog* dialog = openAlerts();
        setField(dialog, field.constData(), value);
        QTest::mouseClick(control<QPushButton>(*dialog, "cmdAlertsOk"), Qt::LeftButton);
        QCOMPARE(m_fakes->messages.texts(), QStringList{message});
        QVERIFY(dialog->isVisible());
        QCOMPARE(dialog->focusWidget(), control<QLineEdit>(*dialog, field.constData()));
        QVERIFY(!QFile::exists(alertsPath()));
        QCOMPARE(m_window->monitor().settings().alerts, store::AlertSettings{});
    }

    // Each slot keeps its own alert settings in data/alerts.ini; data/init.dat stays as it was, byte for byte.
    void alerts_areKeptPerSlot_andComeBackWithTheSlot()
    {
        // A damaged file: what can be read counts, the rest reads as the defaults.
        QFile damaged(alertsPath());
        QVERIFY(damaged.open(QIODevice::WriteOnly));
        damaged.write("\x01garbage\nFailuresBeforeAlert=9\n[Site3]\r\nFailuresBeforeAlert=7\r\nRemindMinutes=99999\n");
        damaged.close();
        openWindow();
        control<QLineEdit>(*m_window, "Text1")->setText(QStringLiteral("slot.example.test"));
        for (int site : {1, 2})
            m_window->savesettings(site);
        const QByteArray initDat = bytes(QStringLiteral("data/init.dat"));
        QCOMPARE(m_window->monitor().settings().alerts, store::AlertSettings{});

        openSite(2);
        QDialog* dialog = openAlerts();
        setField(dialog, "txtFailures", QStringLiteral(" 3 "));
        control<QCheckBox>(*dialog, "chkRecovery")->setChecked(true);
        setField(dialog, "txtRecoveries", QStringLiteral("2"));
        setField(dialog, "txtReminder", QStringLiteral("15"));
        setField(dialog, "txtSlowMs", QStringLiteral("800"));
        setField(dialog, "txtCertDays", QStringLiteral("14"));
        QTest::mouseClick(control<QPushButton>(*dialog, "cmdAlertsOk"), Qt::LeftButton);
        QVERIFY(!dialog->isVisible());
        QCOMPARE(m_fakes->messages.texts(), QStringList{});
        const store::AlertSettings slot2{3, true, 2, 15, 800, 14};
        QCOMPARE(m_window->monitor().settings().alerts, slot2);
        QCOMPARE(bytes(QStringLiteral("data/init.dat")), initDat);

        // Cancel keeps what slot 1 had.
        openSite(1);
        QCOMPARE(m_window->monitor().settings().alerts, store::AlertSettings{});
        QTRY_VERIFY(!m_window->findChild<QDialog*>(QStringLiteral("frmAlerts")));
        dialog = openAlerts();
        QCOMPARE(control<QLineEdit>(*dialog, "txtFailures")->text(), QStringLiteral("1"));
        setField(dialog, "txtFailures", QStringLiteral("5"));
        QTest::mouseClick(control<QPushButton>(*dialog, "cmdAlertsCancel"), Qt::LeftButton);
        QVERIFY(!dialog->isVisible());

        openSite(3);
        store::AlertSettings slot3;
        slot3.failuresBeforeAlert = 7;
        QCOMPARE(m_window->monitor().settings().alerts, slot3);
        openSite(2);
        QCOMPARE(m_window->monitor().settings().alerts, slot2);
        QTRY_VERIFY(!m_window->findChild<QDialog*>(QStringLiteral("frmAlerts")));
        dialog = openAlerts();
        QCOMPARE(control<QLineEdit>(*dialog, "txtFailures")->text(), QStringLiteral("3"));
        QVERIFY(control<QCheckBox>(*dialog, "chkRecovery")->isChecked());
        QCOMPARE(control<QLineEdit>(*dialog, "txtCertDays")->text(), QStringLiteral("14"));

        // What another start of the program reads.
        const store::AlertSettingsFile file(m_dir->path());
        QCOMPARE(file.load(1), store::AlertSettings{});
        QCOMPARE(file.load(2), slot2);
        QCOMPARE(file.load(3), slot3);
        QCOMPARE(bytes(QStringLiteral("data/init.dat")), initDat);
    }

    // At 08:00 the morning is the next day's.
    void snooze_isShownInTheStatusBarUntilResumed()
    {
        m_fakes->clock.wallClock = QDateTime(QDate(2026, 12, 7), QTime(8, 0));
        openWindow().show();
        QLabel* label = control<QLabel>(*m_window, "lblSnooze");
        QVERIFY(!label->isVisible());
        control<QAction>(*m_window, "mnuSnooze4")->trigger();
        QCOMPARE(m_window->monitor().snoozedUntil(), QDateTime(QDate(2026, 12, 7), QTime(12, 0)));
        control<QAction>(*m_window, "mnuSnoozeMorning")->trigger();
        const QDateTime morning(QDate(2026, 12, 8), QTime(8, 0));
        QCOMPARE(m_window->monitor().snoozedUntil(), morning);
        QVERIFY(label->isVisible());
        QCOMPARE(label->text(),
                 QStringLiteral("Alerts snoozed until ") + probe::lineDate(morning) + u' ' + probe::lineTime(morning));
        control<QAction>(*m_window, "mnuResume")->trigger();
        QVERIFY(!label->isVisible());
        QVERIFY(!m_window->monitor().snoozedUntil().isValid());
    }
};

QTEST_MAIN(TestAlertsWindow)
#include "tst_alertswindow.moc"
