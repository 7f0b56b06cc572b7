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

Q_IPV6ADDR addr6(const char* text)
{
    Q_IPV6ADDR address;
    ::inet_pton(AF_INET6, text, address.c);
    return address;
}

// An ICMPv6 message as an ICMPv6 socket delivers it; the kernel has checked its checksum.
QByteArray icmp6Message(quint8 type, quint8 code, quint16 word1, quint16 word2, const QByteArray& body)
{
    QByteArray m(kHeaderSize, '\0');
    m[0] = char(type);
    m[1] = char(code);
    qToBigEndian<quint16>(word1, m.data() + 4);
    qToBigEndian<quint16>(word2, m.data() + 6);
    return m + body;
}

// An IPv6 datagram with no extension headers.
QByteArray ip6Datagram(const Q_IPV6ADDR& source, const Q_IPV6ADDR& destination, quint8 nextHeader,
                       const QByteArray& payload)
{
    QByteArray d(40, '\0');
    d[0] = char(0x60);
    qToBigEndian<quint16>(quint16(payload.size()), d.data() + 4);
    d[6] = char(nextHeader);
    d[7] = 64;
    std::memcpy(d.data() + 8, source.c, 16);
    std::memcpy(d.data() + 24, destination.c, 16);
    return d + payload;
}

const Q_IPV6ADDR kUs6 = addr6("2001:db8::1");
const Q_IPV6ADDR kTarget6 = addr6("2001:db8:1::3");
const Q_IPV6ADDR kRouter6 = addr6("2001:db8:9::9");
const EchoIdentity6 kOurs6{0x1234, 77, kTarget6, false, "abc"};
const EchoIdentity6 kOursOnPingSocket6{0, 77, kTarget6, true, "abc"};

QByteArray quote6Of(const Q_IPV6ADDR& destination, const QByteArray& message)
{
    return ip6Datagram(kUs6, destination, 58, message);
}

QByteArray ourRequest6()
{
    return buildEchoRequest6(kOurs6.id, kOurs6.sequence, kOurs6.payload);
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

    void echoRequest6_carriesIdSequenceAndPayload_andLeavesTheChecksumToTheKernel()
    {
        const QByteArray request = buildEchoRequest6(0xBEEF, 0x0102, "hi!");
        QCOMPARE(request, QByteArray::fromHex("80000000beef0102") + "hi!");
        QCOMPARE(buildEchoRequest6(1, 2, {}), QByteArray::fromHex("8000000000010002"));
    }

    // ICMPv6 sockets deliver the message without the IPv6 header; its sender comes from recvmsg.
    void echoReply6_isOursOnlyWhenEverythingMatches_data()
    {
        QTest::addColumn<QByteArray>("message");
        QTest::addColumn<Q_IPV6ADDR>("source");
        QTest::addColumn<bool>("oursOnRawSocket");
        QTest::addColumn<bool>("oursOnPingSocket"); // the kernel owns the identifier
        const auto reply = [](quint16 id, quint16 sequence, const QByteArray& data, quint8 code = 0) {
            return icmp6Message(kEchoReply6, code, id, sequence, data);
        };
        QTest::newRow("ours") << reply(kOurs6.id, kOurs6.sequence, "abc") << kTarget6 << true << true;
        QTest::newRow("other identifier") << reply(kOurs6.id + 1, kOurs6.sequence, "abc") << kTarget6 << false << true;
        QTest::newRow("other sequence") << reply(kOurs6.id, kOurs6.sequence + 1, "abc") << kTarget6 << false << false;
        QTest::newRow("other source") << reply(kOurs6.id, kOurs6.sequence, "abc") << kRouter6 << false << false;
        QTest::newRow("source differs in the last byte")
            << reply(kOurs6.id, kOurs6.sequence, "abc") << addr6("2001:db8:1::2") << false << false;
        QTest::newRow("nonzero code") << reply(kOurs6.id, kOurs6.sequence, "abc", 1) << kTarget6 << false << false;
        // Forged replies that guessed identifier and sequence number.
        for (const char* data : {"abd", "ab", "abcd", ""})
            QTest::addRow("other data \"%s\"", data)
                << reply(kOurs6.id, kOurs6.sequence, data) << kTarget6 << false << false;
        QTest::newRow("our own request") << ourRequest6() << kTarget6 << false << false;
        QTest::newRow("an ICMP (not ICMPv6) echo reply")
            << icmp6Message(kEchoReply, 0, kOurs6.id, kOurs6.sequence, "abc") << kTarget6 << false << false;
        QTest::newRow("cut short") << reply(kOurs6.id, kOurs6.sequence, {}).left(7) << kTarget6 << false << false;
    }
    void echoReply6_isOursOnlyWhenEverythingMatches()
    {
        QFETCH(QByteArray, message);
        QFETCH(Q_IPV6ADDR, source);
        QFETCH(bool, oursOnRawSocket);
        QFETCH(bool, oursOnPingSocket);
        for (const auto& [ours, expected] :
             {std::pair{kOurs6, oursOnRawSocket}, {kOursOnPingSocket6, oursOnPingSocket}}) {
            const auto answer = interpretMessage6(message, source, ours);
            QCOMPARE(answer.has_value(), expected);
            if (answer) {
                QCOMPARE(answer->status, IpStatus::Success);
                QCOMPARE(answer->from, 0U);
                QCOMPARE(answer->data, QByteArray("abc"));
            }
        }
    }

    // Every ICMPv6 error gives the status of its ICMP counterpart, read from a raw socket and from a ping
    // socket's error queue alike. Packet Too Big gives the status of a send refused for its size.
    void icmp6Error_mapsToTheStatusOfItsIcmpCounterpart_data()
    {
        QTest::addColumn<quint8>("type");
        QTest::addColumn<quint8>("code");
        QTest::addColumn<qint32>("status"); // 0: says nothing about an echo
        const auto row = [](const char* name, quint8 type, quint8 code, qint32 status) {
            QTest::newRow(name) << type << code << status;
        };
        row("no route", 1, 0, IpStatus::DestNetUnreachable);
        row("administratively prohibited", 1, 1, IpStatus::DestHostUnreachable);
        row("beyond scope of source address", 1, 2, IpStatus::DestHostUnreachable);
        row("address unreachable", 1, 3, IpStatus::DestHostUnreachable);
        row("port unreachable", 1, 4, IpStatus::DestPortUnreachable);
        row("source address failed policy", 1, 5, IpStatus::DestHostUnreachable);
        row("reject route", 1, 6, IpStatus::DestHostUnreachable);
        row("unreachable, unknown code", 1, 99, IpStatus::DestHostUnreachable);
        row("packet too big", 2, 0, IpStatus::PacketTooBig);
        row("hop limit exceeded in transit", 3, 0, IpStatus::TtlExpiredTransit);
        row("fragment reassembly time exceeded", 3, 1, IpStatus::TtlExpiredReassem);
        row("erroneous header field", 4, 0, IpStatus::ParamProblem);
        row("unrecognized next header", 4, 1, IpStatus::ParamProblem);
        row("unrecognized option", 4, 2, IpStatus::ParamProblem);
        // Types that are no error about an echo, some of them ICMP error numbers.
        row("ICMP redirect number", 5, 0, 0);
        row("ICMP time exceeded number", 11, 0, 0);
        row("ICMP parameter problem number", 12, 0, 0);
        row("experimental error type", 100, 0, 0);
        row("echo request", 128, 0, 0);
        row("router advertisement", 134, 0, 0);
        row("redirect", 137, 0, 0);
    }
    void icmp6Error_mapsToTheStatusOfItsIcmpCounterpart()
    {
        QFETCH(quint8, type);
        QFETCH(quint8, code);
        QFETCH(qint32, status);
        QCOMPARE(statusForError6(type, code).value_or(0), status);

        const auto raw =
            interpretMessage6(icmp6Message(type, code, 0, 1280, quote6Of(kTarget6, ourRequest6())), kRouter6, kOurs6);
        QCOMPARE(raw.has_value(), status != 0);
        const QByteArray sent = buildEchoRequest6(0x4321, kOurs6.sequence, "abc");
        const auto queued = interpretQueuedError6(type, code, sent, kTarget6, kOursOnPingSocket6);
        QCOMPARE(queued.has_value(), status != 0);
        for (const auto& answer : {raw, queued}) {
            if (answer) {
                QCOMPARE(answer->status, status);
                QCOMPARE(answer->from, 0U);
                QVERIFY(answer->data.isEmpty());
            }
        }
    }

    // On a raw socket, which sees every ICMPv6 error on the host, the quote must be of our echo request:
    // type 128, our identifier and sequence number, to our destination.
    void rawIcmp6Error_countsOnlyWhenItQuotesOurRequest_data()
    {
        QTest::addColumn<QByteArray>("quote");
        QTest::addColumn<bool>("ours");
        const QByteArray quote = quote6Of(kTarget6, ourRequest6());
        QTest::newRow("ours") << quote << true;
        QTest::newRow("ours, only the echo header quoted") << quote.left(48) << true;
        QTest::newRow("other sequence") << quote6Of(kTarget6, buildEchoRequest6(kOurs6.id, kOurs6.sequence + 1, "abc"))
                                        << false;
        QTest::newRow("other identifier")
            << quote6Of(kTarget6, buildEchoRequest6(kOurs6.id + 1, kOurs6.sequence, "abc")) << false;
        QTest::newRow("other destination") << quote6Of(kRouter6, ourRequest6()) << false;
        QTest::newRow("an echo reply") << quote6Of(kTarget6,
                                                   icmp6Message(kEchoReply6, 0, kOurs6.id, kOurs6.sequence, "abc"))
                                       << false;
        QTest::newRow("an ICMP (not ICMPv6) echo request")
            << quote6Of(kTarget6, icmp6Message(kEchoRequest, 0, kOurs6.id, kOurs6.sequence, "abc")) << false;
        QTest::newRow("a request with a nonzero code")
            << quote6Of(kTarget6, icmp6Message(kEchoRequest6, 1, kOurs6.id, kOurs6.sequence, "abc")) << false;
        QTest::newRow("not ICMPv6") << ip6Datagram(kUs6, kTarget6, 17, ourRequest6()) << false;
        QTest::newRow("behind an extension header") << ip6Datagram(kUs6, kTarget6, 60, ourRequest6()) << false;
        QByteArray ipv4 = quote;
        ipv4[0] = char(0x45);
        QTest::newRow("not IPv6") << ipv4 << false;
        QTest::newRow("quote too short") << quote.left(47) << false;
        QTest::newRow("nothing quoted") << QByteArray() << false;
    }
    void rawIcmp6Error_countsOnlyWhenItQuotesOurRequest()
    {
        QFETCH(QByteArray, quote);
        QFETCH(bool, ours);
        const auto answer = interpretMessage6(icmp6Message(kDestUnreachable6, 3, 0, 0, quote), kRouter6, kOurs6);
        QCOMPARE(answer.has_value(), ours);
        if (answer)
            QCOMPARE(answer->status, IpStatus::DestHostUnreachable);
    }

    // A ping socket's error queue gives the request as sent (with the kernel's identifier) and its destination.
    void queuedIcmp6Error_countsOnlyForOurSequenceAndDestination()
    {
        const QByteArray sent = buildEchoRequest6(0x4321, kOurs6.sequence, "abc");
        QVERIFY(interpretQueuedError6(1, 4, sent, kTarget6, kOursOnPingSocket6));
        QVERIFY(interpretQueuedError6(1, 4, sent.left(8), kTarget6, kOursOnPingSocket6));
        QVERIFY(!interpretQueuedError6(1, 4, sent.left(7), kTarget6, kOursOnPingSocket6));
        QVERIFY(!interpretQueuedError6(1, 4, buildEchoRequest6(0x4321, kOurs6.sequence + 1, "abc"), kTarget6,
                                       kOursOnPingSocket6));
        QVERIFY(!interpretQueuedError6(1, 4, sent, kRouter6, kOursOnPingSocket6));
        QVERIFY(!interpretQueuedError6(1, 4, icmp6Message(kEchoReply6, 0, 0x4321, kOurs6.sequence, "abc"), kTarget6,
                                       kOursOnPingSocket6));
        QVERIFY(!interpretQueuedError6(137, 0, sent, kTarget6, kOursOnPingSocket6));
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
