#include "app/CheckCycle.h"
#include "app/MainWindow.h"
#include "store/LogFiles.h"
#include "support/AppFixture.h"
#include "support/Fakes.h"

#include <QApplication>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTest>

using namespace sondrel;
using namespace sondrel::test;

class TestCheckCycle : public QObject, private AppFixture {
    Q_OBJECT
private:
    app::MainWindow& open()
    {
        openWindow();
        m_window->Text1->setText(QStringLiteral("site.test"));
        m_window->Text3->setText(QStringLiteral("Packet"));
        return *m_window;
    }
    // Runs one cycle for check number n and waits until it has ended.
    void cycle(int n)
    {
        bool ended = false;
        m_window->Text6->setText(QString::number(n));
        m_window->checkCycle().process([&] { ended = true; });
        QTRY_VERIFY(ended);
    }
    static EchoReply replyWith(qint32 status, qint32 trip, const QByteArray& payload = {})
    {
        EchoReply reply = FakeIcmpEcho::echoOf(0x0100007f, payload);
        reply.status = status;
        reply.tripTime = trip;
        return reply;
    }
    QByteArray record(int n) const
    {
        QFile file(m_dir->path() + QStringLiteral("/logs/tmp.log"));
        if (!file.open(QIODevice::ReadOnly))
            return {};
        file.seek((n - 1) * 200);
        return file.read(200);
    }

private slots:
    void init()
    {
        QVERIFY(renewFixture());
        m_fakes->resolver.table.insert(QStringLiteral("site.test"), QStringLiteral("127.0.0.1"));
        m_fakes->clock.wallClock = QDateTime(QDate(2026, 12, 7), QTime(3, 4, 5));
    }
    void cleanup() { m_window.reset(); }

    void reply_writesFieldsAndTheComposedLine()
    {
        app::MainWindow& w = open();
        m_fakes->echo.nextReply = [](quint32, const QByteArray& p) { return replyWith(0, 23, p); };
        w.state().PageToken = QStringLiteral(" WSOK");
        w.logFiles().createnewlogfile();
        cycle(12);
        QCOMPARE(w.Text2->text(), QStringLiteral("127.0.0.1"));
        QCOMPARE(m_fakes->echo.lastAddress, quint32(0x0100007f));
        QCOMPARE(m_fakes->echo.lastPayload, QByteArray("Packet"));
        QCOMPARE(w.Text4[0]->text(), QStringLiteral("0   [ ip success ]"));
        QCOMPARE(w.Text4[2]->text(), QStringLiteral("23 ms"));
        QCOMPARE(w.Text4[3]->text(), QStringLiteral("6"));
        QCOMPARE(w.Text4[4]->text(), QStringLiteral("Packet"));
        QCOMPARE(w.state().RecordNumber, QStringLiteral("000012"));
        const QString line = QStringLiteral("000012 12/7/2026 3:04:05 AM Trip Time=23 ms Average=23 WSOK");
        QCOMPARE(w.results().lines(), QStringList{line});
        QCOMPARE(record(12), (line.toLatin1() + QByteArray(200 - line.size(), ' ')));
        QCOMPARE(w.Image1->toolTip(), QStringLiteral("0   [ ip success ]"));
        QVERIFY(w.state().PingOk);
    }

    void unresolvedName_isAFailureLineWithTheSadFace()
    {
        app::MainWindow& w = open();
        w.Text1->setText(QStringLiteral("http://site.test"));
        cycle(1);
        QCOMPARE(w.Text2->text(), QString());
        QCOMPARE(m_fakes->echo.sendCount, 0);
        QCOMPARE(w.Text4[0]->text(), QStringLiteral("-1   [ inet_addr: bad IP format ]"));
        QCOMPARE(w.Text4[2]->text(), QStringLiteral("0 ms"));
        QCOMPARE(w.Text4[3]->text(), QStringLiteral("0"));
        QCOMPARE(w.results().lines(),
                 QStringList{QStringLiteral("000001 12/7/2026 3:04:05 AM Failed to ping! - Site Problem     ")});
        QVERIFY(w.Image1->isHidden() && w.Image2->isHidden() && !w.Image3->isHidden());
        QVERIFY(!w.state().PingOk);
        QCOMPARE(w.state().ReplyCount, qint16(0));
    }

    // A site that stops answering is a failure, not a reply with a trip time.
    void timeoutOrIcmpError_failsTheCycleWithoutTouchingTheAverage_data()
    {
        QTest::addColumn<int>("status");
        QTest::newRow("timed out") << 11010;
        QTest::newRow("host unreachable") << 11003;
        QTest::newRow("general failure") << 11050;
    }
    void timeoutOrIcmpError_failsTheCycleWithoutTouchingTheAverage()
    {
        QFETCH(int, status);
        app::MainWindow& w = open();
        m_fakes->echo.nextReply = [](quint32, const QByteArray& p) { return replyWith(0, 10, p); };
        cycle(1);
        m_fakes->echo.nextReply = [status](quint32, const QByteArray&) { return replyWith(status, 7); };
        cycle(2);
        m_fakes->echo.nextReply = [](quint32, const QByteArray& p) { return replyWith(0, 21, p); };
        cycle(3);
        const QStringList lines = w.results().lines();
        QCOMPARE(lines.size(), 3);
        QVERIFY(lines[1].endsWith(QStringLiteral(" Failed to ping! - Site Problem     ")));
        QVERIFY(w.Text4[0]->text().startsWith(QStringLiteral("0   ")));
        // (10 + 21) / 2, the failed cycle counts neither in the sum nor in the divisor.
        QVERIFY2(lines[2].endsWith(QStringLiteral("Trip Time=21 ms Average=15     ")), qPrintable(lines[2]));
        QCOMPARE(w.state().ReplyCount, qint16(2));
        QCOMPARE(w.state().TripTimeTotal, 31.0);
        QVERIFY(!w.state().PingOk);     // a later reply does not clear the failure
        QVERIFY(!w.Image3->isHidden()); // pictures are reset by the run before a check, not by a reply
    }

    void emptyPayload_keepsTheEarlierPacketReturned()
    {
        app::MainWindow& w = open();
        cycle(1);
        QCOMPARE(w.Text4[4]->text(), QStringLiteral("Packet"));
        w.Text3->clear();
        cycle(2);
        QCOMPARE(w.Text4[3]->text(), QStringLiteral("0"));
        QCOMPARE(w.Text4[4]->text(), QStringLiteral("Packet"));
    }

    void replyCount_staysAtItsMaximum()
    {
        app::MainWindow& w = open();
        w.state().ReplyCount = 32767;
        w.state().TripTimeTotal = 32767.0 * 4;
        m_fakes->echo.nextReply = [](quint32, const QByteArray& p) { return replyWith(0, 32767, p); };
        cycle(40000);
        QCOMPARE(w.state().ReplyCount, qint16(32767));
        QVERIFY(w.results().lines().first().startsWith(QStringLiteral("040000 ")));
        QVERIFY(w.results().lines().first().contains(QStringLiteral(" Average=5     ")));
    }

    void noIcmpSocket_explainsHowToAllowIt_andWritesNoLog()
    {
        app::MainWindow& w = open();
        m_fakes->echo.isAvailable = false;
        w.logFiles().createnewlogfile();
        cycle(1);
        const QStringList lines = w.results().lines();
        QCOMPARE(lines.size(), 2);
        QCOMPARE(lines[0], QStringLiteral("Windows Sockets for 32 bit Windows is not successfully responding."));
        QVERIFY(lines[1].contains(QStringLiteral("net.ipv4.ping_group_range")));
        QVERIFY(lines[1].contains(QStringLiteral("cap_net_raw")));
        QVERIFY(w.Image1->isHidden() && !w.Image2->isHidden() && w.Image3->isHidden());
        QCOMPARE(m_fakes->resolver.lookupCount, 0);
        QVERIFY(w.state().PingOk);
        QCOMPARE(record(1), QByteArray());
    }
};

int main(int argc, char* argv[])
{
    // Dates and times in the C locale's fixed form.
    qputenv("LC_ALL", "C");
    qputenv("LANG", "C");
    QApplication app(argc, argv);
    TestCheckCycle test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_checkcycle.moc"
