#include "core/Outbox.h"
#include "support/AppFixture.h"

#include <QLabel>
#include <QTest>

using namespace sondrel;

// The main window tells in its status bar what the notification outbox holds when it opens.
class TestOutboxStatus : public QObject, private test::AppFixture {
    Q_OBJECT
private slots:
    void waitingNotifications_shownAtStartUp()
    {
        QVERIFY(renewFixture());
        const core::Outbox outbox(m_dir->path());
        const QDateTime now = QDateTime::currentDateTime();
        for (const QString& error :
             {QStringLiteral("Connection refused"), QStringLiteral("421 Service not available")}) {
            core::OutboxEntry entry;
            entry.fields.host = "127.0.0.1:1";
            entry.firstAttempt = now.addSecs(error.startsWith("421") ? -60 : -120);
            entry.nextAttempt = now.addSecs(600);
            entry.attempts = 1;
            entry.lastError = error;
            QVERIFY(outbox.save(outbox.newPath(entry.firstAttempt), entry));
        }
        m_fakes->clock.wallClock = now;
        app::MainWindow& window = openWindow();
        auto* label = test::control<QLabel>(window, "lblOutbox");
        QTRY_COMPARE(label->text(),
                     QStringLiteral("2 notifications waiting to be sent; last error: 421 Service not available"));
        QVERIFY(!label->isHidden());
    }
};

QTEST_MAIN(TestOutboxStatus)
#include "tst_outboxstatus.moc"
