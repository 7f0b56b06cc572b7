#include "platform/IcmpEcho.h"
#include "platform/IcmpPacket.h"

#include <QTest>
#include <QtEndian>

#include <arpa/inet.h>
#include <cerrno>

using namespace sondrel::platform;
using namespace sondrel::platform::icmp;

namespace {

quint32 addr(const char* dotted)
{
    return ::inet_addr(dotted);
}

// An ICMP message with a correct checksum: type, code, the 4 bytes after the checksum, then body.
QByteArray icmpMessage(quint8 type, quint8 code, quint16 word1, quint16 word2, const QByteArray& body)
{
    QByteArray m(kHeaderSize, '\0');
    m[0] = char(type);
    m[1] = char(code);
    qToBigEndian<quint16>(word1, m.data() + 4);
    qToBigEndian<quint16>(word2, m.data() + 6);
    m += body;
    qToBigEndian<quint16>(checksum(m), m.data() + 2);
    return m;
}

// An IPv4 datagram; optionWords adds that many 4-byte words of options to the header.
QByteArray ipDatagram(quint32 source, quint32 destination, quint8 protocol, const QByteArray& payload,
                      int optionWords = 0)
{
    const int headerSize = 20 + 4 * optionWords;
    QByteArray d(headerSize, '\0');
    d[0] = char(0x40 | (headerSize / 4));
    qToBigEndian<quint16>(quint16(headerSize + payload.size()), d.data() + 2);
    d[8] = 64;
    d[9] = char(protocol);
    std::memcpy(d.data() + 12, &source, 4);
    std::memcpy(d.data() + 16, &destination, 4);
    qToBigEndian<quint16>(checksum(d), d.data() + 10);
    return d + payload;
}

const quint32 kUs = addr("127.0.0.1");
const quint32 kTarget = addr("10.1.2.3");
const quint32 kRouter = addr("10.9.9.9");
const EchoIdentity kOurs{0x1234, 77, kTarget, false, "abc"};

QByteArray ourRequest(const QByteArray& payload = kOurs.payload)
{
    return buildEchoRequest(kOurs.id, kOurs.sequence, payload);
}

// An ICMP error as a raw socket reads it: from the router to us, quoting the given datagram.
QByteArray rawError(quint8 type, quint8 code, const QByteArray& quoted)
{
    return ipDatagram(kRouter, kUs, 1, icmpMessage(type, code, 0, 0, quoted));
}

QByteArray quoteOf(quint32 destination, const QByteArray& message)
{
    return ipDatagram(kUs, destination, 1, message);
}

} // namespace

class TestIcmpPacket : public QObject {
    Q_OBJECT
private slots:
    void checksum_foldsCarriesAndPadsOddLength()
    {
        // The worked example of the Internet checksum: sum 0x2DDF0 folds to 0xDDF2.
        QCOMPARE(checksum(QByteArray::fromHex("0001f203f4f5f6f7")), quint16(0x220D));
        QCOMPARE(checksum(QByteArray::fromHex("01")), quint16(~0x0100));
        QCOMPARE(checksum(QByteArray::fromHex("ffff")), quint16(0x0000));
        QCOMPARE(checksum({}), quint16(0xFFFF));
    }

    void echoRequest_carriesIdSequenceAndPayloadInNetworkOrder()
    {
        const QByteArray request = buildEchoRequest(0xBEEF, 0x0102, "hi!");
        QCOMPARE(request.size(), kHeaderSize + 3);
        QCOMPARE(request.left(2), QByteArray::fromHex("0800"));
        QCOMPARE(request.mid(4, 4), QByteArray::fromHex("beef0102"));
        QCOMPARE(request.mid(8), QByteArray("hi!"));
        QCOMPARE(checksum(request), quint16(0));
        QCOMPARE(checksum(buildEchoRequest(1, 2, {})), quint16(0));
        QCOMPARE(buildEchoRequest(1, 2, {}).size(), kHeaderSize);
    }

    void rawEchoReply_isOursOnlyWhenEverythingMatches_data()
    {
        QTest::addColumn<QByteArray>("datagram");
        QTest::addColumn<bool>("ours");
        const QByteArray reply = icmpMessage(kEchoReply, 0, kOurs.id, kOurs.sequence, "abc");
        QTest::newRow("ours") << ipDatagram(kTarget, kUs, 1, reply) << true;
        QTest::newRow("with IP options") << ipDatagram(kTarget, kUs, 1, reply, 2) << true;
        QTest::newRow("other identifier")
            << ipDatagram(kTarget, kUs, 1, icmpMessage(kEchoReply, 0, kOurs.id + 1, kOurs.sequence, "abc")) << false;
        QTest::newRow("other sequence") << ipDatagram(kTarget, kUs, 1,
                                                      icmpMessage(kEchoReply, 0, kOurs.id, kOurs.sequence + 1, "abc"))
                                        << false;
        QTest::newRow("other source") << ipDatagram(kRouter, kUs, 1, reply) << false;
        QByteArray corrupt = reply;
        corrupt[9] = 'X';
        QTest::newRow("bad checksum") << ipDatagram(kTarget, kUs, 1, corrupt) << false;
        QTest::newRow("nonzero code") << ipDatagram(kTarget, kUs, 1,
                                                    icmpMessage(kEchoReply, 1, kOurs.id, kOurs.sequence, "abc"))
                                      << false;
        // Forged replies that guessed identifier and sequence number, with the checksum made right.
        for (const char* data : {"abd", "ab", "abcd", ""})
            QTest::addRow("other data \"%s\"", data)
                << ipDatagram(kTarget, kUs, 1, icmpMessage(kEchoReply, 0, kOurs.id, kOurs.sequence, data)) << false;
        QTest::newRow("our own request") << ipDatagram(kUs, kTarget, 1, ourRequest()) << false;
        QTest::newRow("not ICMP") << ipDatagram(kTarget, kUs, 17, reply) << false;
        QTest::newRow("cut short") << ipDatagram(kTarget, kUs, 1, reply).chopped(1) << false;
        QTest::newRow("header only") << ipDatagram(kTarget, kUs, 1, {}) << false;
        QByteArray ipv6 = ipDatagram(kTarget, kUs, 1, reply);
        ipv6[0] = char(0x65);
        QTest::newRow("not IPv4") << ipv6 << false;
        QTest::newRow("runt") << QByteArray(12, '\x45') << false;
    }
    void rawEchoReply_isOursOnlyWhenEverythingMatches()
    {
        QFETCH(QByteArray, datagram);
        QFETCH(bool, ours);
        const auto answer = interpretRawDatagram(datagram, kOurs);
        QCOMPARE(answer.has_value(), ours);
        if (ours) {
            QCOMPARE(answer->status, IpStatus::Success);
            QCOMPARE(answer->from, kTarget);
            QCOMPARE(answer->data, QByteArray("abc"));
        }
    }

    void rawIcmpError_mapsToStatusWhenItQuotesOurRequest_data()
    {
        QTest::addColumn<QByteArray>("datagram");
        QTest::addColumn<qint32>("status"); // 0: not ours
        const QByteArray quote = quoteOf(kTarget, ourRequest());
        QTest::newRow("net unreachable") << rawError(3, 0, quote) << IpStatus::DestNetUnreachable;
        QTest::newRow("host unreachable") << rawError(3, 1, quote) << IpStatus::DestHostUnreachable;
        QTest::newRow("protocol unreachable") << rawError(3, 2, quote) << IpStatus::DestProtUnreachable;
        QTest::newRow("port unreachable") << rawError(3, 3, quote) << IpStatus::DestPortUnreachable;
        QTest::newRow("fragmentation needed") << rawError(3, 4, quote) << IpStatus::DestHostUnreachable;
        QTest::newRow("host prohibited") << rawError(3, 10, quote) << IpStatus::DestHostUnreachable;
        QTest::newRow("ttl in transit") << rawError(11, 0, quote) << IpStatus::TtlExpiredTransit;
        QTest::newRow("reassembly") << rawError(11, 1, quote) << IpStatus::TtlExpiredReassem;
        QTest::newRow("parameter problem") << rawError(12, 0, quote) << IpStatus::ParamProblem;
        QTest::newRow("source quench") << rawError(4, 0, quote) << IpStatus::SourceQuench;
        // Routers need quote only the first 8 bytes of what they drop.
        QTest::newRow("short quote") << rawError(3, 1, quote.left(28)) << IpStatus::DestHostUnreachable;

        QTest::newRow("redirect") << rawError(5, 1, quote) << 0;
        QTest::newRow("quotes other sequence")
            << rawError(3, 1, quoteOf(kTarget, buildEchoRequest(kOurs.id, kOurs.sequence + 1, "abc"))) << 0;
        QTest::newRow("quotes other identifier")
            << rawError(3, 1, quoteOf(kTarget, buildEchoRequest(kOurs.id + 1, kOurs.sequence, "abc"))) << 0;
        QTest::newRow("quotes other destination") << rawError(3, 1, quoteOf(kRouter, ourRequest())) << 0;
        QTest::newRow("quotes a datagram that is not ICMP")
            << rawError(3, 3, ipDatagram(kUs, kTarget, 17, ourRequest())) << 0;
        QTest::newRow("quotes an echo reply")
            << rawError(3, 1, quoteOf(kTarget, icmpMessage(kEchoReply, 0, kOurs.id, kOurs.sequence, {}))) << 0;
        QTest::newRow("quote too short") << rawError(3, 1, quote.left(27)) << 0;
        QByteArray corrupt = rawError(3, 1, quote);
        corrupt[21] = char(2);
        QTest::newRow("bad checksum") << corrupt << 0;
    }
    void rawIcmpError_mapsToStatusWhenItQuotesOurRequest()
    {
        QFETCH(QByteArray, datagram);
        QFETCH(qint32, status);
        const auto answer = interpretRawDatagram(datagram, kOurs);
        QCOMPARE(answer.has_value(), status != 0);
        if (answer) {
            QCOMPARE(answer->status, status);
            QCOMPARE(answer->from, kRouter);
            QVERIFY(answer->data.isEmpty());
        }
    }

    // The kernel owns a ping socket's identifier and filters replies and errors by it.
    void pingSocketMessages_matchSequenceAndAddressButNotTheKernelsId()
    {
        const EchoIdentity ping{0, kOurs.sequence, kTarget, true, "xyz"};
        const auto reply = interpretPingReply(icmpMessage(kEchoReply, 0, 0x4321, kOurs.sequence, "xyz"), kTarget, ping);
        QVERIFY(reply);
        QCOMPARE(reply->data, QByteArray("xyz"));
        QVERIFY(!interpretPingReply(icmpMessage(kEchoReply, 0, 0x4321, kOurs.sequence + 1, "xyz"), kTarget, ping));
        QVERIFY(!interpretPingReply(icmpMessage(kEchoReply, 0, 0x4321, kOurs.sequence, "xyz"), kRouter, ping));
        QVERIFY(!interpretPingReply(icmpMessage(kEchoReply, 0, 0x4321, kOurs.sequence, {}).left(7), kTarget, ping));
        for (const char* data : {"xyZ", "xy", "xyzz", ""})
            QVERIFY2(!interpretPingReply(icmpMessage(kEchoReply, 0, 0x4321, kOurs.sequence, data), kTarget, ping),
                     data);

        const QByteArray sent = buildEchoRequest(0x4321, kOurs.sequence, "abc");
        const auto error = interpretQueuedError(3, 3, kRouter, sent, kTarget, ping);
        QVERIFY(error);
        QCOMPARE(error->status, IpStatus::DestPortUnreachable);
        QCOMPARE(error->from, kRouter);
        QVERIFY(!interpretQueuedError(3, 3, kRouter, buildEchoRequest(1, kOurs.sequence + 1, "abc"), kTarget, ping));
        QVERIFY(!interpretQueuedError(3, 3, kRouter, sent, kRouter, ping));
        QVERIFY(!interpretQueuedError(5, 0, kRouter, sent, kTarget, ping));
    }

    void refusedSend_mapsErrnoToStatus()
    {
        QCOMPARE(statusForSendError(ENETUNREACH), IpStatus::DestNetUnreachable);
        QCOMPARE(statusForSendError(EHOSTUNREACH), IpStatus::DestHostUnreachable);
        QCOMPARE(statusForSendError(EMSGSIZE), IpStatus::PacketTooBig);
        QCOMPARE(statusForSendError(EACCES), IpStatus::GeneralFailure);
        QCOMPARE(statusForSendError(EPERM), IpStatus::GeneralFailure);
        QCOMPARE(statusForSendError(ENOBUFS), IpStatus::GeneralFailure);
    }
};

QTEST_APPLESS_MAIN(TestIcmpPacket)
#include "tst_icmppacket.moc"
