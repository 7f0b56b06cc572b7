#include "platform/LinuxIcmpEcho.h"
#include "platform/QtHostResolver.h"
#include "probe/EchoProbe.h"
#include "support/Fakes.h"
#include "support/PrivateNetwork.h"

#include <QHostAddress>
#include <QTemporaryDir>
#include <QTest>
#include <QUdpSocket>

#include <arpa/inet.h>

using namespace sondrel;
using namespace sondrel::platform;
using sondrel::test::FakeHostResolver;
using sondrel::test::FakeIcmpEcho;

namespace {

struct Ping {
    std::unique_ptr<PendingOperation> operation;
    int calls = 0;
    qint32 status = 12345;
    EchoReply reply;
};

std::unique_ptr<Ping> ping(IcmpEcho& echo, const QString& address, const QString& packet)
{
    auto p = std::make_unique<Ping>();
    p->operation = probe::pingaddress(echo, address, packet, [raw = p.get()](qint32 status, const EchoReply& reply) {
        ++raw->calls;
        raw->status = status;
        raw->reply = reply;
    });
    return p;
}

struct Resolution {
    std::unique_ptr<PendingOperation> operation;
    int calls = 0;
    QString address = QStringLiteral("not called");
};

std::unique_ptr<Resolution> resolve(HostResolver& resolver, const QString& name)
{
    auto r = std::make_unique<Resolution>();
    r->operation = probe::gethostip(resolver, name, [raw = r.get()](const QString& address) {
        ++raw->calls;
        raw->address = address;
    });
    return r;
}

bool isAllZero(const EchoReply& reply)
{
    return reply.status == 0 && reply.address == 0 && reply.tripTime == 0 && reply.dataSize == 0 &&
           reply.data == EchoReply().data;
}

} // namespace

class TestEchoProbe : public QObject {
    Q_OBJECT

    QString m_noPrivateNetwork;
    QString m_noHostsFile;
    QString m_noResolverFile;
    QTemporaryDir m_folder;

private slots:
    void initTestCase()
    {
        m_noPrivateNetwork = test::enterPrivateNetwork();
        QVERIFY(m_folder.isValid());
        if (m_noPrivateNetwork.isEmpty())
            m_noHostsFile =
                test::usePrivateHostsFile(m_folder.path(), "127.0.0.1 localhost\n::1 localhost\nfd00:5::7 v6only.test\n"
                                                           "127.0.0.3 both.test\nfd00:5::8 both.test\n");
        // Other names go to a name server on loopback that the test may keep silent.
        if (m_noPrivateNetwork.isEmpty() && m_noHostsFile.isEmpty())
            m_noResolverFile =
                test::usePrivateResolverFile(m_folder.path(), "nameserver 127.0.0.1\noptions timeout:1 attempts:1\n");
    }

    void pingstatustext_putsTheCodeBeforeItsText_data()
    {
        QTest::addColumn<qint32>("code");
        QTest::addColumn<QString>("text");
        QTest::newRow("bad address") << -1 << "-1   [ inet_addr: bad IP format ]";
        QTest::newRow("success") << 0 << "0   [ ip success ]";
        QTest::newRow("program's own timeout") << 500 << "500   [ ping timeout ]";
        QTest::newRow("buffer") << 11001 << "11001   [ ip buf too_small ]";
        QTest::newRow("host") << 11003 << "11003   [ ip dest host unreachable ]";
        QTest::newRow("timed out") << 11010 << "11010   [ ip req timed out ]";
        QTest::newRow("reassembly") << 11014 << "11014   [ ip ttl expired reassem ]";
        QTest::newRow("mtu") << 11020 << "11020   [ ip spec mtu change ]";
        QTest::newRow("general") << 11050 << "11050   [ ip general failure ]";
        QTest::newRow("pending") << 11255 << "11255   [ ip pending ]";
        QTest::newRow("unlisted") << 12345 << "12345   [ unknown  msg returned ]";
        QTest::newRow("gap in the table") << 11024 << "11024   [ unknown  msg returned ]";
        QTest::newRow("other negative") << -2 << "-2   [ unknown  msg returned ]";
    }
    void pingstatustext_putsTheCodeBeforeItsText()
    {
        QFETCH(qint32, code);
        QFETCH(QString, text);
        QCOMPARE(probe::pingstatustext(code), text);
    }

    void formatip_writesDottedDecimal()
    {
        QCOMPARE(probe::formatip({192, 168, 0, 10}), QStringLiteral("192.168.0.10"));
        QCOMPARE(probe::formatip({0, 0, 0, 0}), QStringLiteral("0.0.0.0"));
        QCOMPARE(probe::formatip({255, 255, 255, 255}), QStringLiteral("255.255.255.255"));
    }

    void unreadableAddress_givesMinusOneWithNothingSent_data()
    {
        QTest::addColumn<QString>("address");
        QTest::newRow("empty") << "";
        QTest::newRow("broadcast") << "255.255.255.255";
        QTest::newRow("name") << "localhost";
        QTest::newRow("five parts") << "1.2.3.4.5";
        QTest::newRow("part too large") << "256.1.1.1";
        QTest::newRow("web address") << "http://127.0.0.1/";
    }
    void unreadableAddress_givesMinusOneWithNothingSent()
    {
        QFETCH(QString, address);
        FakeIcmpEcho echo;
        const auto p = ping(echo, address, QStringLiteral("payload"));
        QCOMPARE(p->calls, 0); // from the event loop, like every other outcome
        QTRY_COMPARE(p->calls, 1);
        QCOMPARE(p->status, probe::kBadAddressStatus);
        QVERIFY(isAllZero(p->reply));
        QCOMPARE(echo.sendCount, 0);
    }

    // Each address goes to the echo of its own family; an IPv4 address in IPv6 form goes over IPv4.
    void address_isPingedOverItsOwnFamily_data()
    {
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("sentTo");
        QTest::newRow("IPv4") << "127.0.0.1"
                              << "127.0.0.1";
        QTest::newRow("IPv6") << "2001:db8::1"
                              << "2001:db8::1";
        QTest::newRow("IPv6, long form") << "2001:0db8:0:0:0:0:0:1"
                                         << "2001:db8::1";
        QTest::newRow("IPv4 in IPv6 form") << "::ffff:127.0.0.2"
                                           << "127.0.0.2";
    }
    void address_isPingedOverItsOwnFamily()
    {
        QFETCH(QString, address);
        QFETCH(QString, sentTo);
        FakeIcmpEcho echo;
        const auto p = ping(echo, address, QStringLiteral("payload"));
        QTRY_COMPARE(p->calls, 1);
        QCOMPARE(p->status, IpStatus::Success);
        const QHostAddress v6(echo.lastAddress6);
        const QHostAddress sent = echo.lastAddress != 0 ? QHostAddress(ntohl(echo.lastAddress)) : v6;
        QCOMPARE(sent.toString(), sentTo);
    }

    void packetText_isSentInTheCodePageUpToTheDataArea()
    {
        FakeIcmpEcho echo;
        auto p = ping(echo, QStringLiteral("127.0.0.1"), QStringLiteral("caf\u00e9 \u20ac \u0416"));
        QTRY_COMPARE(p->calls, 1);
        QCOMPARE(echo.lastPayload, QByteArray("caf\xe9 \x80 ?"));
        QCOMPARE(echo.lastAddress, ::inet_addr("127.0.0.1"));
        QCOMPARE(echo.lastTimeout, probe::kEchoTimeoutMs);
        QCOMPARE(p->status, IpStatus::Success);
        QCOMPARE(p->reply.dataSize, 8);

        p = ping(echo, QStringLiteral("127.1"), QString(kEchoDataAreaSize, u'a'));
        QTRY_COMPARE(p->calls, 1);
        QCOMPARE(echo.lastPayload.size(), kEchoDataAreaSize);
        QCOMPARE(echo.lastAddress, ::inet_addr("127.0.0.1")); // inet_addr's short form

        // A character outside the Basic Multilingual Plane is one character and one byte.
        p = ping(echo, QStringLiteral("127.0.0.1"),
                 QString(kEchoDataAreaSize - 1, u'a') + QStringLiteral("\U0001F600"));
        QTRY_COMPARE(p->calls, 1);
        QCOMPARE(echo.lastPayload, QByteArray(kEchoDataAreaSize - 1, 'a') + '?');

        const int sends = echo.sendCount;
        p = ping(echo, QStringLiteral("127.0.0.1"), QString(kEchoDataAreaSize + 1, u'a'));
        QCOMPARE(p->calls, 0);
        QTRY_COMPARE(p->calls, 1);
        QCOMPARE(p->status, IpStatus::BufTooSmall);
        QVERIFY(isAllZero(p->reply));
        QCOMPARE(echo.sendCount, sends);
    }

    // Whatever the platform left in the record when it had no ICMP socket, the caller sees a
    // failure with nothing in it, never a success.
    void noIcmpSocket_givesGeneralFailureWithAnAllZeroReply()
    {
        FakeIcmpEcho echo;
        echo.nextReply = [](quint32 address, const QByteArray&) {
            EchoReply reply;
            reply.address = address;
            reply.status = IpStatus::GeneralFailure;
            reply.tripTime = 9;
            reply.dataSize = 1;
            reply.data[0] = 'j';
            return reply;
        };
        const auto p = ping(echo, QStringLiteral("127.0.0.1"), QStringLiteral("x"));
        QTRY_COMPARE(p->calls, 1);
        QCOMPARE(p->status, IpStatus::GeneralFailure);
        QVERIFY(isAllZero(p->reply));
    }

    void destroyedPing_neverCallsBack()
    {
        FakeIcmpEcho echo;
        echo.delayMs = 20;
        auto badAddress = ping(echo, QString(), QStringLiteral("x"));
        auto tooLong = ping(echo, QStringLiteral("127.0.0.1"), QString(300, u'x'));
        auto sent = ping(echo, QStringLiteral("127.0.0.1"), QStringLiteral("x"));
        badAddress->operation.reset();
        tooLong->operation.reset();
        sent->operation.reset();
        echo.delayMs = 100;
        const auto later = ping(echo, QStringLiteral("127.0.0.1"), QStringLiteral("later"));
        QTRY_COMPARE(later->calls, 1);
        QCOMPARE(badAddress->calls, 0);
        QCOMPARE(tooLong->calls, 0);
        QCOMPARE(sent->calls, 0);
    }

    void realEcho_toLoopback_comesBackWithThePacketText()
    {
        if (!m_noPrivateNetwork.isEmpty())
            QSKIP(qPrintable(m_noPrivateNetwork));
        LinuxIcmpEcho echo;
        QVERIFY(probe::startsockets(echo));
        const auto p = ping(echo, QStringLiteral("127.0.0.1"), QStringLiteral("Sondrel \u00e9cho"));
        QTRY_COMPARE_WITH_TIMEOUT(p->calls, 1, 3000);
        QCOMPARE(p->status, IpStatus::Success);
        QCOMPARE(QByteArray(p->reply.data.data(), p->reply.dataSize), QByteArray("Sondrel \xe9\x63ho"));
        probe::cleanupsockets();
    }

    // The system's resolver gets the name as typed: nothing is trimmed or taken apart, and an address
    // written as digits and dots is read, never looked up.
    void hostName_isResolvedExactlyAsTyped_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("address");
        QTest::newRow("hosts file") << "localhost"
                                    << "127.0.0.1";
        QTest::newRow("case does not matter") << "LocalHost"
                                              << "127.0.0.1";
        QTest::newRow("dotted address") << "127.0.0.2"
                                        << "127.0.0.2";
        QTest::newRow("short address form") << "127.1"
                                            << "127.0.0.1";
        QTest::newRow("no such name") << "no-such-host.invalid"
                                      << "";
        QTest::newRow("empty") << ""
                               << "";
        QTest::newRow("blank before name") << " localhost"
                                           << "";
        QTest::newRow("blank after address") << "127.0.0.1 "
                                             << "";
        QTest::newRow("blank before address") << " 127.0.0.1"
                                              << "";
        QTest::newRow("web address") << "http://localhost"
                                     << "";
        QTest::newRow("with a path") << "localhost/index.html"
                                     << "";
        QTest::newRow("bad dotted address") << "300.1.1.1"
                                            << "";
        QTest::newRow("IPv6 literal") << "::1"
                                      << "::1";
        QTest::newRow("IPv6 literal, long form") << "2001:0db8:0000:0000::0001"
                                                 << "2001:db8::1";
        QTest::newRow("IPv6 literal with a blank") << " ::1"
                                                   << "";
        QTest::newRow("name with only an IPv6 address") << "v6only.test"
                                                        << "fd00:5::7";
        QTest::newRow("name with both kinds") << "both.test"
                                              << "127.0.0.3";
    }
    void hostName_isResolvedExactlyAsTyped()
    {
        if (!m_noPrivateNetwork.isEmpty())
            QSKIP(qPrintable(m_noPrivateNetwork)); // a lookup must not leave the machine
        if (!m_noHostsFile.isEmpty())
            QSKIP(qPrintable(m_noHostsFile));
        QFETCH(QString, name);
        QFETCH(QString, address);
        QtHostResolver resolver;
        const auto r = resolve(resolver, name);
        QCOMPARE(r->calls, 0);
        QTRY_COMPARE_WITH_TIMEOUT(r->calls, 1, 3000);
        QCOMPARE(r->address, address);
    }

    void destroyedLookup_neverCallsBack()
    {
        if (!m_noPrivateNetwork.isEmpty())
            QSKIP(qPrintable(m_noPrivateNetwork));
        if (!m_noHostsFile.isEmpty())
            QSKIP(qPrintable(m_noHostsFile));
        QtHostResolver resolver;
        const auto looked = resolve(resolver, QStringLiteral("localhost"));
        const auto read = resolve(resolver, QStringLiteral("127.0.0.1"));
        looked->operation.reset();
        read->operation.reset();
        const auto later = resolve(resolver, QStringLiteral("no-such-host.invalid"));
        QTRY_COMPARE_WITH_TIMEOUT(later->calls, 1, 3000);
        const auto last = resolve(resolver, QStringLiteral("localhost"));
        QTRY_COMPARE_WITH_TIMEOUT(last->calls, 1, 3000);
        QCOMPARE(looked->calls, 0);
        QCOMPARE(read->calls, 0);
    }

    // A name server that never answers: the lookup given up meanwhile leaves nothing behind once the
    // system's resolver gives up too (the leak checker of the sanitizer build looks at the end).
    void lookupGivenUpBeforeASlowAnswer_leavesNothingBehind()
    {
        if (!m_noResolverFile.isEmpty())
            QSKIP(qPrintable(m_noResolverFile));
        if (!m_noHostsFile.isEmpty() || !m_noPrivateNetwork.isEmpty())
            QSKIP("needs the private network and hosts file");
        QUdpSocket silent;
        QVERIFY(silent.bind(QHostAddress::LocalHost, 53));
        QtHostResolver resolver;
        const auto givenUp = resolve(resolver, QStringLiteral("slow.test"));
        QTRY_VERIFY_WITH_TIMEOUT(silent.hasPendingDatagrams(), 3000); // the lookup is under way
        givenUp->operation.reset();
        // Qt looks a name up once at a time, so the same name again is answered after the first answer came.
        const auto awaited = resolve(resolver, QStringLiteral("slow.test"));
        QTRY_COMPARE_WITH_TIMEOUT(awaited->calls, 1, 10000);
        QCOMPARE(awaited->address, QString());
        QCOMPARE(givenUp->calls, 0);
    }

    void lookupCallback_mayDestroyItsOperation()
    {
        if (!m_noPrivateNetwork.isEmpty())
            QSKIP(qPrintable(m_noPrivateNetwork));
        if (!m_noHostsFile.isEmpty())
            QSKIP(qPrintable(m_noHostsFile));
        QtHostResolver resolver;
        QStringList results;
        std::unique_ptr<PendingOperation> current;
        const QStringList names = {QStringLiteral("localhost"), QStringLiteral("127.0.0.3"), QString()};
        std::function<void()> next = [&] {
            current = probe::gethostip(resolver, names[results.size()], [&](const QString& address) {
                current.reset();
                results.append(address);
                if (results.size() < names.size())
                    next();
            });
        };
        next();
        QTRY_COMPARE_WITH_TIMEOUT(results.size(), names.size(), 3000);
        QCOMPARE(results, (QStringList{QStringLiteral("127.0.0.1"), QStringLiteral("127.0.0.3"), QString()}));
    }
};

QTEST_GUILESS_MAIN(TestEchoProbe)
#include "tst_echoprobe.moc"
