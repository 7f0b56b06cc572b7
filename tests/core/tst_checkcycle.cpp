#include "core/CheckCycle.h"
#include "core/MonitorSettings.h"
#include "core/RunState.h"
#include "store/LogFiles.h"
#include "support/Fakes.h"
#include "support/ProgramFolder.h"

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace sondrel;
using namespace sondrel::test;

using core::SiteStatus;

// One check of a run on fakes, as the run hands it its inputs: what it shows and logs.
class TestCheckCycle : public QObject {
    Q_OBJECT
private:
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<FakeSystem> m_fakes;
    core::MonitorSettings m_settings;
    core::CheckInputs m_inputs; // the run's side: the counters and page token carried from check to check
    core::CheckOutcome m_outcome;
    std::unique_ptr<store::LogFiles> m_logs;
    std::unique_ptr<core::CheckCycle> m_cycle;
    // What a run shows of its checks, as the outcomes tell it.
    struct Seen {
        QString siteAddress;
        core::EchoReport echo;
        QStringList lines;
        QList<SiteStatus> statuses;
        QString statusText;
    } m_shown;
    Seen* const m_seen = &m_shown;

    store::LogFiles& open()
    {
        m_settings = {};
        m_settings.webAddress = QStringLiteral("site.test");
        m_inputs = {};
        m_inputs.pageToken = core::kBlankToken;
        m_shown = {};
        m_logs = std::make_unique<store::LogFiles>(m_dir->path(), m_fakes->messages);
        m_cycle = std::make_unique<core::CheckCycle>(m_fakes->echo, m_fakes->resolver, *m_logs,
                                                     [this] { return m_fakes->clock.now(); });
        return *m_logs;
    }
    core::CheckInputs& state() { return m_inputs; }
    const core::CheckOutcome& outcome() const { return m_outcome; }
    // Runs one cycle for check number n and waits until it has ended.
    void cycle(int n)
    {
        bool ended = false;
        m_inputs.webAddress = m_settings.webAddress;
        m_inputs.packetString = m_settings.packetString;
        m_inputs.checkNumberText = QString::number(n);
        m_cycle->process(
            m_inputs, [this](const QString& address) { m_shown.siteAddress = address; },
            [&](const core::CheckOutcome& outcome) {
                m_outcome = outcome;
                m_inputs.replyCount = outcome.replyCount;
                m_inputs.tripTimeTotal = outcome.tripTimeTotal;
                const std::optional<QString> kept = m_shown.echo.packetReturned;
                if (!outcome.socketsMissing) {
                    m_shown.echo = outcome.report;
                    if (!m_shown.echo.packetReturned)
                        m_shown.echo.packetReturned = kept;
                }
                m_shown.lines += outcome.lines;
                m_shown.statusText = outcome.statusText;
                if (outcome.socketsMissing || outcome.failed)
                    m_shown.statuses.append(outcome.socketsMissing ? SiteStatus::NoConnection
                                                                   : SiteStatus::NotAnswering);
                m_pingFailed = m_pingFailed || (!outcome.socketsMissing && outcome.failed);
                ended = true;
            });
        QTRY_VERIFY(ended);
    }
    bool m_pingFailed = false; // some check of the run failed
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
        m_dir = newProgramFolder();
        QVERIFY(m_dir->isValid());
        m_fakes = std::make_unique<FakeSystem>();
        m_fakes->resolver.table.insert(QStringLiteral("site.test"), QStringLiteral("127.0.0.1"));
        m_fakes->clock.wallClock = QDateTime(QDate(2026, 12, 7), QTime(3, 4, 5));
    }
    void cleanup()
    {
        m_cycle.reset();
        m_logs.reset();
        m_pingFailed = false;
        m_fakes.reset();
        m_dir.reset();
    }

    void reply_writesFieldsAndTheComposedLine()
    {
        store::LogFiles& logs = open();
        m_fakes->echo.nextReply = [](quint32, const QByteArray& p) { return replyWith(0, 23, p); };
        state().pageToken = QStringLiteral(" WSOK");
        logs.createnewlogfile();
        cycle(12);
        QCOMPARE(m_seen->siteAddress, QStringLiteral("127.0.0.1"));
        QCOMPARE(m_fakes->echo.lastAddress, quint32(0x0100007f));
        QCOMPARE(m_fakes->echo.lastPayload, QByteArray("Packet"));
        QCOMPARE(m_seen->echo.statusText, QStringLiteral("0   [ ip success ]"));
        QCOMPARE(m_seen->echo.tripTimeText, QStringLiteral("23 ms"));
        QCOMPARE(m_seen->echo.bytesUsed, QStringLiteral("6"));
        QCOMPARE(m_seen->echo.packetReturned.value_or(QString()), QStringLiteral("Packet"));
        QCOMPARE(outcome().recordNumber, QStringLiteral("000012"));
        const QString line = QStringLiteral("000012 12/7/2026 3:04:05 AM Trip Time=23 ms Average=23 WSOK");
        QCOMPARE(m_seen->lines, QStringList{line});
        QCOMPARE(record(12), (line.toLatin1() + QByteArray(200 - line.size(), ' ')));
        QCOMPARE(m_seen->statusText, QStringLiteral("0   [ ip success ]"));
        QVERIFY(!m_pingFailed);
    }

    void unresolvedName_isAFailureLineWithTheSadFace()
    {
        open();
        m_settings.webAddress = QStringLiteral("nowhere.test");
        cycle(1);
        QCOMPARE(m_seen->siteAddress, QString());
        QCOMPARE(m_fakes->echo.sendCount, 0);
        QCOMPARE(m_seen->echo.statusText, QStringLiteral("-1   [ inet_addr: bad IP format ]"));
        QCOMPARE(m_seen->echo.tripTimeText, QStringLiteral("0 ms"));
        QCOMPARE(m_seen->echo.bytesUsed, QStringLiteral("0"));
        QCOMPARE(m_seen->lines,
                 QStringList{QStringLiteral("000001 12/7/2026 3:04:05 AM Failed to ping! - Site Problem     ")});
        QCOMPARE(m_seen->statuses, QList<SiteStatus>{SiteStatus::NotAnswering});
        QVERIFY(m_pingFailed);
        QCOMPARE(state().replyCount, qint64(0));
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
        open();
        m_fakes->echo.nextReply = [](quint32, const QByteArray& p) { return replyWith(0, 10, p); };
        cycle(1);
        m_fakes->echo.nextReply = [status](quint32, const QByteArray&) { return replyWith(status, 7); };
        cycle(2);
        m_fakes->echo.nextReply = [](quint32, const QByteArray& p) { return replyWith(0, 21, p); };
        cycle(3);
        const QStringList lines = m_seen->lines;
        QCOMPARE(lines.size(), 3);
        QVERIFY(lines[1].endsWith(QStringLiteral(" Failed to ping! - Site Problem     ")));
        QVERIFY(m_seen->echo.statusText.startsWith(QStringLiteral("0   ")));
        // (10 + 21) / 2, the failed cycle counts neither in the sum nor in the divisor.
        QVERIFY2(lines[2].endsWith(QStringLiteral("Trip Time=21 ms Average=15     ")), qPrintable(lines[2]));
        QCOMPARE(state().replyCount, qint64(2));
        QCOMPARE(state().tripTimeTotal, qint64(31));
        QVERIFY(m_pingFailed);                                       // a later reply does not clear the failure
        QCOMPARE(m_seen->statuses.last(), SiteStatus::NotAnswering); // a reply does not bring back the happy face
    }

    void emptyPayload_keepsTheEarlierPacketReturned()
    {
        open();
        cycle(1);
        QCOMPARE(m_seen->echo.packetReturned.value_or(QString()), QStringLiteral("Packet"));
        m_settings.packetString.clear();
        cycle(2);
        QCOMPARE(m_seen->echo.bytesUsed, QStringLiteral("0"));
        QCOMPARE(m_seen->echo.packetReturned.value_or(QString()), QStringLiteral("Packet"));
    }

    // 40,000 replies of 10 ms average 10 ms, past the 16-bit counters of earlier versions.
    void average_staysTrueBeyond32767Replies()
    {
        open();
        state().replyCount = 39999;
        state().tripTimeTotal = 39999 * 10;
        m_fakes->echo.nextReply = [](quint32, const QByteArray& p) { return replyWith(0, 10, p); };
        cycle(40000);
        QCOMPARE(state().replyCount, qint64(40000));
        QVERIFY(m_seen->lines.first().startsWith(QStringLiteral("040000 ")));
        QVERIFY2(m_seen->lines.first().contains(QStringLiteral(" Average=10     ")), qPrintable(m_seen->lines.first()));
    }

    void noIcmpSocket_explainsHowToAllowIt_andWritesNoLog()
    {
        store::LogFiles& logs = open();
        m_fakes->echo.isAvailable = false;
        logs.createnewlogfile();
        cycle(1);
        const QStringList lines = m_seen->lines;
        QCOMPARE(lines.size(), 2);
        QCOMPARE(lines[0], QStringLiteral("Windows Sockets for 32 bit Windows is not successfully responding."));
        QVERIFY(lines[1].contains(QStringLiteral("net.ipv4.ping_group_range")));
        QVERIFY(lines[1].contains(QStringLiteral("cap_net_raw")));
        QCOMPARE(m_seen->statuses, QList<SiteStatus>{SiteStatus::NoConnection});
        QCOMPARE(m_fakes->resolver.lookupCount, 0);
        QVERIFY(!m_pingFailed);
        QCOMPARE(record(1), QByteArray());
    }
};

int main(int argc, char* argv[])
{
    // Dates and times in the C locale's fixed form.
    qputenv("LC_ALL", "C");
    qputenv("LANG", "C");
    QCoreApplication app(argc, argv);
    TestCheckCycle test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_checkcycle.moc"
