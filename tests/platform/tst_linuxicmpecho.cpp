#include "platform/IcmpPacket.h"
#include "platform/LinuxIcmpEcho.h"
#include "support/PrivateNetwork.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QScopeGuard>
#include <QSet>
#include <QSignalSpy>
#include <QSocketNotifier>
#include <QStandardPaths>
#include <QTest>
#include <QTimer>
#include <QtEndian>

#include <arpa/inet.h>
#include <linux/capability.h>
#include <netinet/icmp6.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

using namespace sondrel::platform;
using namespace sondrel::test;

namespace {

constexpr int kTimeoutMs = 500;
constexpr int kWaitMs = 4000;

quint32 addr(const char* dotted)
{
    return ::inet_addr(dotted);
}

Q_IPV6ADDR addr6(const char* text)
{
    Q_IPV6ADDR address;
    ::inet_pton(AF_INET6, text, address.c);
    return address;
}

bool isIpv6(const char* address)
{
    return std::strchr(address, ':') != nullptr;
}

// Inside the test's own network namespace: 127.0.0.2 answers nothing (its replies are dropped unless
// they carry the TTL the test forges them with), 127.0.0.3 to .6 reject echo requests with an ICMP
// error, 192.0.2.0/24 has no route, .3 an unreachable route and .4 a prohibited one.
// For IPv6 the same on a veth pair: fd00:6::1 to ::8 are its addresses; ::2 answers nothing (but for a
// hop limit of 99), ::3 to ::8 reject echo requests with each ICMPv6 unreachable code nftables can send.
// fd00:7::/64 has no route, fd00:8::3 an unreachable route and fd00:8::4 a prohibited one. fd00:9::1 is
// reached through the pair, whose far end forwards it back out with its hop limit set to 1, and so
// answers with a real Time Exceeded.
const QByteArray kRules = R"(
table ip sondrel_echo_test {
    chain input {
        type filter hook input priority 0; policy accept;
        ip saddr 127.0.0.2 icmp type echo-reply ip ttl != 99 drop
        ip daddr 127.0.0.3 icmp type echo-request reject with icmp type host-unreachable
        ip daddr 127.0.0.4 icmp type echo-request reject with icmp type net-unreachable
        ip daddr 127.0.0.5 icmp type echo-request reject with icmp type port-unreachable
        ip daddr 127.0.0.6 icmp type echo-request reject with icmp type prot-unreachable
    }
}
table ip6 sondrel_echo_test6 {
    chain input {
        type filter hook input priority 0; policy accept;
        ip6 saddr fd00:6::2 icmpv6 type echo-reply ip6 hoplimit != 99 drop
        ip6 daddr fd00:6::3 icmpv6 type echo-request reject with icmpv6 type no-route
        ip6 daddr fd00:6::4 icmpv6 type echo-request reject with icmpv6 type admin-prohibited
        ip6 daddr fd00:6::5 icmpv6 type echo-request reject with icmpv6 type addr-unreachable
        ip6 daddr fd00:6::6 icmpv6 type echo-request reject with icmpv6 type port-unreachable
        ip6 daddr fd00:6::7 icmpv6 type echo-request reject with icmpv6 type policy-fail
        ip6 daddr fd00:6::8 icmpv6 type echo-request reject with icmpv6 type reject-route
    }
    chain prerouting {
        type filter hook prerouting priority 0; policy accept;
        ip6 daddr fd00:9::1 ip6 hoplimit set 1
    }
}
)";

const QStringList kNetworkSetup6 = {
    QStringLiteral("link add sondrel6a type veth peer name sondrel6b"),
    QStringLiteral("link set sondrel6b address 02:00:00:00:00:6b"),
    QStringLiteral("link set sondrel6a up"),
    QStringLiteral("link set sondrel6b up"),
    QStringLiteral("-6 addr add fd00:6::1/64 dev sondrel6a nodad"),
    QStringLiteral("-6 addr add fd00:6::2/64 dev sondrel6a nodad"),
    QStringLiteral("-6 addr add fd00:6::3/64 dev sondrel6a nodad"),
    QStringLiteral("-6 addr add fd00:6::4/64 dev sondrel6a nodad"),
    QStringLiteral("-6 addr add fd00:6::5/64 dev sondrel6a nodad"),
    QStringLiteral("-6 addr add fd00:6::6/64 dev sondrel6a nodad"),
    QStringLiteral("-6 addr add fd00:6::7/64 dev sondrel6a nodad"),
    QStringLiteral("-6 addr add fd00:6::8/64 dev sondrel6a nodad"),
    QStringLiteral("-6 route add unreachable fd00:8::3/128"),
    QStringLiteral("-6 route add prohibit fd00:8::4/128"),
    QStringLiteral("-6 route add fd00:9::/64 dev sondrel6a"),
    QStringLiteral("-6 neigh add fd00:9::1 lladdr 02:00:00:00:00:6b dev sondrel6a nud permanent"),
};

// The ICMPv6 checksum, which covers a pseudo-header of both addresses, the length and the next header.
quint16 icmp6Checksum(const Q_IPV6ADDR& source, const Q_IPV6ADDR& destination, const QByteArray& message)
{
    QByteArray pseudo = QByteArray(reinterpret_cast<const char*>(source.c), 16) +
                        QByteArray(reinterpret_cast<const char*>(destination.c), 16) + QByteArray(8, '\0');
    qToBigEndian<quint32>(quint32(message.size()), pseudo.data() + 32);
    pseudo[39] = 58;
    return icmp::checksum(pseudo + message);
}

QByteArray ip6Header(const Q_IPV6ADDR& source, const Q_IPV6ADDR& destination, int payloadSize, quint8 hopLimit)
{
    QByteArray h(40, '\0');
    h[0] = 0x60;
    qToBigEndian<quint16>(quint16(payloadSize), h.data() + 4);
    h[6] = 58;
    h[7] = char(hopLimit);
    std::memcpy(h.data() + 8, source.c, 16);
    std::memcpy(h.data() + 24, destination.c, 16);
    return h;
}

// An ICMPv6 message with its checksum field 0.
QByteArray icmp6Message(quint8 type, quint8 code, quint16 word1, quint16 word2, const QByteArray& body)
{
    QByteArray m(8, '\0');
    m[0] = char(type);
    m[1] = char(code);
    qToBigEndian<quint16>(word1, m.data() + 4);
    qToBigEndian<quint16>(word2, m.data() + 6);
    return m + body;
}

QByteArray icmpMessage(quint8 type, quint8 code, quint16 id, quint16 sequence, const QByteArray& body)
{
    QByteArray m(8, '\0');
    m[0] = char(type);
    m[1] = char(code);
    qToBigEndian<quint16>(id, m.data() + 4);
    qToBigEndian<quint16>(sequence, m.data() + 6);
    m += body;
    qToBigEndian<quint16>(icmp::checksum(m), m.data() + 2);
    return m;
}

QByteArray ipHeader(quint32 source, quint32 destination, int payloadSize, quint8 ttl)
{
    QByteArray h(20, '\0');
    h[0] = 0x45;
    qToBigEndian<quint16>(quint16(20 + payloadSize), h.data() + 2);
    h[8] = char(ttl);
    h[9] = 1;
    std::memcpy(h.data() + 12, &source, 4);
    std::memcpy(h.data() + 16, &destination, 4);
    qToBigEndian<quint16>(icmp::checksum(h), h.data() + 10);
    return h;
}

// Watches every ICMP message arriving in the namespace and sends datagrams with any source address.
class IcmpSniffer : public QObject {
public:
    struct Request {
        quint32 source = 0;
        quint32 destination = 0;
        quint16 id = 0;
        quint16 sequence = 0;
        QByteArray payload;
    };

    IcmpSniffer()
    {
        m_listen = ::socket(AF_INET, SOCK_RAW | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_ICMP);
        m_send = ::socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_RAW);
        if (m_listen >= 0) {
            m_notifier = new QSocketNotifier(m_listen, QSocketNotifier::Read, this);
            connect(m_notifier, &QSocketNotifier::activated, this, &IcmpSniffer::read);
        }
    }
    ~IcmpSniffer() override
    {
        delete m_notifier;
        ::close(m_listen);
        ::close(m_send);
    }
    bool isValid() const { return m_listen >= 0 && m_send >= 0; }

    // An ICMP message from source to destination; the TTL of 99 gets replies from 127.0.0.2 through.
    void forge(quint32 source, quint32 destination, const QByteArray& message)
    {
        const QByteArray datagram = ipHeader(source, destination, int(message.size()), 99) + message;
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_addr.s_addr = destination;
        ::sendto(m_send, datagram.constData(), datagram.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
    }

    QList<Request> requests;
    std::function<void(const Request&)> onRequest;

private:
    void read()
    {
        char data[4096];
        ssize_t size;
        while ((size = ::recv(m_listen, data, sizeof data, 0)) > 0) {
            const int headerSize = (data[0] & 0x0F) * 4;
            if (size < headerSize + 8 || data[headerSize] != 8)
                continue;
            Request r;
            std::memcpy(&r.source, data + 12, 4);
            std::memcpy(&r.destination, data + 16, 4);
            r.id = qFromBigEndian<quint16>(data + headerSize + 4);
            r.sequence = qFromBigEndian<quint16>(data + headerSize + 6);
            r.payload = QByteArray(data + headerSize + 8, size - headerSize - 8);
            requests.append(r);
            if (onRequest)
                onRequest(r);
        }
    }

    int m_listen = -1;
    int m_send = -1;
    QSocketNotifier* m_notifier = nullptr;
};

// Watches every ICMPv6 echo request arriving in the namespace and sends ICMPv6 messages with any source
// address, with the checksum right or wrong.
class Icmp6Sniffer : public QObject {
public:
    struct Request {
        Q_IPV6ADDR source{};
        Q_IPV6ADDR destination{};
        quint16 id = 0;
        quint16 sequence = 0;
        QByteArray payload;
    };

    Icmp6Sniffer()
    {
        m_listen = ::socket(AF_INET6, SOCK_RAW | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_ICMPV6);
        m_send = ::socket(AF_INET6, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_RAW);
        icmp6_filter filter;
        ICMP6_FILTER_SETBLOCKALL(&filter);
        ICMP6_FILTER_SETPASS(icmp::kEchoRequest6, &filter);
        const int on = 1;
        if (m_listen >= 0 && ::setsockopt(m_listen, IPPROTO_ICMPV6, ICMP6_FILTER, &filter, sizeof filter) == 0 &&
            ::setsockopt(m_listen, IPPROTO_IPV6, IPV6_RECVPKTINFO, &on, sizeof on) == 0) {
            m_valid = true;
            m_notifier = new QSocketNotifier(m_listen, QSocketNotifier::Read, this);
            connect(m_notifier, &QSocketNotifier::activated, this, &Icmp6Sniffer::read);
        }
    }
    ~Icmp6Sniffer() override
    {
        delete m_notifier;
        ::close(m_listen);
        ::close(m_send);
    }
    bool isValid() const { return m_valid && m_send >= 0; }

    // An ICMPv6 message from source to destination; the hop limit of 99 gets replies from fd00:6::2 through.
    void forge(const Q_IPV6ADDR& source, const Q_IPV6ADDR& destination, QByteArray message, bool rightChecksum = true)
    {
        const quint16 checksum = icmp6Checksum(source, destination, message);
        qToBigEndian<quint16>(rightChecksum ? checksum : quint16(checksum ^ 0x0101), message.data() + 2);
        const QByteArray datagram = ip6Header(source, destination, int(message.size()), 99) + message;
        sockaddr_in6 to{};
        to.sin6_family = AF_INET6;
        std::memcpy(to.sin6_addr.s6_addr, destination.c, 16);
        ::sendto(m_send, datagram.constData(), datagram.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
    }

    QList<Request> requests;
    std::function<void(const Request&)> onRequest;

private:
    void read()
    {
        for (;;) {
            char data[4096];
            sockaddr_in6 from{};
            alignas(cmsghdr) char control[256];
            iovec part{data, sizeof data};
            msghdr message{};
            message.msg_name = &from;
            message.msg_namelen = sizeof from;
            message.msg_iov = &part;
            message.msg_iovlen = 1;
            message.msg_control = control;
            message.msg_controllen = sizeof control;
            const ssize_t size = ::recvmsg(m_listen, &message, 0);
            if (size < 0)
                return;
            if (size < 8)
                continue;
            Request r;
            std::memcpy(r.source.c, from.sin6_addr.s6_addr, 16);
            for (cmsghdr* c = CMSG_FIRSTHDR(&message); c; c = CMSG_NXTHDR(&message, c)) {
                if (c->cmsg_level == IPPROTO_IPV6 && c->cmsg_type == IPV6_PKTINFO) {
                    in6_pktinfo info;
                    std::memcpy(&info, CMSG_DATA(c), sizeof info);
                    std::memcpy(r.destination.c, info.ipi6_addr.s6_addr, 16);
                }
            }
            r.id = qFromBigEndian<quint16>(data + 4);
            r.sequence = qFromBigEndian<quint16>(data + 6);
            r.payload = QByteArray(data + 8, size - 8);
            requests.append(r);
            if (onRequest)
                onRequest(r);
        }
    }

    int m_listen = -1;
    int m_send = -1;
    bool m_valid = false;
    QSocketNotifier* m_notifier = nullptr;
};

// One echo under way and what it ended with.
struct Echo {
    std::unique_ptr<PendingOperation> operation;
    int calls = 0;
    EchoReply reply;
    qint64 elapsedMs = -1;
    QElapsedTimer timer;
};

// An echo to an IPv4 address (send) or an IPv6 address (send6).
std::unique_ptr<PendingOperation> sendTo(LinuxIcmpEcho& echo, const char* to, const QByteArray& payload, int timeoutMs,
                                         IcmpEcho::Done done)
{
    if (isIpv6(to))
        return echo.send6(addr6(to), payload, timeoutMs, std::move(done));
    return echo.send(addr(to), payload, timeoutMs, std::move(done));
}

std::unique_ptr<Echo> startEcho(LinuxIcmpEcho& echo, const char* to, const QByteArray& payload,
                                int timeoutMs = kTimeoutMs)
{
    auto e = std::make_unique<Echo>();
    e->timer.start();
    e->operation = sendTo(echo, to, payload, timeoutMs, [p = e.get()](const EchoReply& reply) {
        ++p->calls;
        p->reply = reply;
        p->elapsedMs = p->timer.elapsed();
    });
    return e;
}

bool isAllZero(const EchoReply& reply, qint32 status)
{
    const EchoReply zero;
    return reply.status == status && reply.address == 0 && reply.tripTime == 0 && reply.dataSize == 0 &&
           reply.data == zero.data;
}

// An ICMP error as an echo gives it: a status and nothing else but, for IPv4, its sender.
bool isErrorFrom(const EchoReply& reply, qint32 status, const char* target)
{
    const EchoReply zero;
    return reply.status == status && reply.address == (isIpv6(target) ? 0 : addr(target)) && reply.dataSize == 0 &&
           reply.data == zero.data;
}

constexpr char kSendOneEcho[] = "--send-one-echo";
constexpr char kFirstEchoPayload[] = "first echo";

// The whole run of a child process: its first echo request, over a raw socket to the silent
// 127.0.0.2, then exit. The exit status is 1 when no raw socket would be used.
int sendFirstEcho()
{
    if (LinuxIcmpEcho::socketKind() != LinuxIcmpEcho::SocketKind::Raw)
        return 1;
    LinuxIcmpEcho echo;
    const auto operation = echo.send(addr("127.0.0.2"), kFirstEchoPayload, kTimeoutMs, [](const EchoReply&) {});
    return 0; // the request left inside send()
}

int openFileCount()
{
    return int(QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::NoDotAndDotDot).size());
}

// Lowers or raises CAP_NET_RAW in this thread's effective set.
bool setNetRawCapability(bool on)
{
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[2]{};
    if (::syscall(SYS_capget, &header, data) != 0)
        return false;
    if (on)
        data[0].effective |= 1U << CAP_NET_RAW;
    else
        data[0].effective &= ~(1U << CAP_NET_RAW);
    return ::syscall(SYS_capset, &header, data) == 0;
}

} // namespace

class TestLinuxIcmpEcho : public QObject {
    Q_OBJECT

    // Chooses the socket the echo will use, for ICMP and ICMPv6 alike: "raw" leaves ping sockets forbidden,
    // "ping" allows them.
    bool usePath(const QString& path)
    {
        const bool ping = path == QLatin1String("ping");
        if (!setPingGroupRange(ping ? "0 2147483647" : "1 0"))
            return false;
        const auto kind = ping ? LinuxIcmpEcho::SocketKind::Ping : LinuxIcmpEcho::SocketKind::Raw;
        return LinuxIcmpEcho::socketKind() == kind && LinuxIcmpEcho::socketKind6() == kind;
    }
    static void addPaths()
    {
        QTest::addColumn<QString>("path");
        QTest::newRow("raw socket") << QStringLiteral("raw");
        QTest::newRow("ping socket") << QStringLiteral("ping");
    }
    template <typename Rows> static void addPathsWith(const Rows& addRows)
    {
        for (const char* path : {"raw", "ping"})
            addRows(QString::fromLatin1(path));
    }

    LinuxIcmpEcho m_echo;

private slots:
    void initTestCase()
    {
        const QString reason = enterPrivateNetwork();
        if (!reason.isEmpty())
            QSKIP(qPrintable(reason));
        const QString nft = runCommand(QStringLiteral("nft"), {QStringLiteral("-f"), QStringLiteral("-")}, kRules);
        if (!nft.isEmpty())
            QSKIP(qPrintable(QStringLiteral("nftables rules could not be loaded: ") + nft));
        for (const char* route : {"unreachable 192.0.2.3/32", "prohibit 192.0.2.4/32"}) {
            const QString failed =
                runCommand(QStringLiteral("ip"), QStringLiteral("route add %1").arg(route).split(u' '));
            QVERIFY2(failed.isEmpty(), qPrintable(failed));
        }
        for (const QString& step : kNetworkSetup6) {
            const QString failed = runCommand(QStringLiteral("ip"), step.split(u' '));
            QVERIFY2(failed.isEmpty(), qPrintable(step + QStringLiteral(": ") + failed));
        }
        const QString forwarding = runCommand(
            QStringLiteral("sysctl"), {QStringLiteral("-qw"), QStringLiteral("net.ipv6.conf.all.forwarding=1")});
        QVERIFY2(forwarding.isEmpty(), qPrintable(forwarding));
    }

    // An IPv6 reply's address stays 0.
    void reply_fromLoopback_carriesTheEchoedPayload_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QByteArray>("target");
        QTest::addColumn<QByteArray>("payload");
        QByteArray full(kEchoDataAreaSize, '\0');
        for (int i = 0; i < full.size(); ++i)
            full[i] = char(i * 7 + 1); // byte 73 is zero: the data size is not a string length
        addPathsWith([&](const QString& path) {
            for (const char* target : {"127.0.0.1", "::1"}) {
                const auto row = [&](const char* what, const QByteArray& payload) {
                    QTest::addRow("%s: %s: %s", qPrintable(path), target, what)
                        << path << QByteArray(target) << payload;
                };
                row("text", "Sondrel \x80\xE9 probe");
                row("empty", {});
                row("full data area", full);
            }
            QTest::addRow("%s: fd00:6::1 on a veth: text", qPrintable(path))
                << path << QByteArray("fd00:6::1") << QByteArray("Sondrel probe");
        });
    }
    void reply_fromLoopback_carriesTheEchoedPayload()
    {
        QFETCH(QString, path);
        QFETCH(QByteArray, target);
        QFETCH(QByteArray, payload);
        QVERIFY(usePath(path));
        const auto echo = startEcho(m_echo, target.constData(), payload);
        QCOMPARE(echo->calls, 0); // never from inside send()
        QTRY_COMPARE_WITH_TIMEOUT(echo->calls, 1, kWaitMs);
        const EchoReply& reply = echo->reply;
        QCOMPARE(reply.status, IpStatus::Success);
        QCOMPARE(reply.address, isIpv6(target.constData()) ? 0U : addr(target.constData()));
        QCOMPARE(reply.dataSize, payload.size());
        QCOMPARE(QByteArray(reply.data.data(), payload.size()), payload);
        QVERIFY(std::all_of(reply.data.begin() + payload.size(), reply.data.end(), [](char c) { return c == 0; }));
        QVERIFY(reply.tripTime >= 0);
        QVERIFY(reply.tripTime <= echo->elapsedMs);
    }

    void payloadLargerThanDataArea_isNotSent()
    {
        IcmpSniffer sniffer;
        QVERIFY(sniffer.isValid());
        const auto echo = startEcho(m_echo, "127.0.0.1", QByteArray(kEchoDataAreaSize + 1, 'x'));
        QTRY_COMPARE_WITH_TIMEOUT(echo->calls, 1, kWaitMs);
        QVERIFY(isAllZero(echo->reply, IpStatus::BufTooSmall));
        // A marker echo sent afterwards arrives; nothing arrived before it.
        const auto marker = startEcho(m_echo, "127.0.0.1", "marker");
        QTRY_COMPARE_WITH_TIMEOUT(marker->calls, 1, kWaitMs);
        QCOMPARE(sniffer.requests.size(), 1);
        QCOMPARE(sniffer.requests.first().payload, QByteArray("marker"));
    }

    // No answer, an ICMP error caused by the rules, or a send the kernel refuses at once.
    void otherOutcomes_giveTheirStatus_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QByteArray>("target");
        QTest::addColumn<qint32>("status");
        QTest::addColumn<bool>("answered"); // by an ICMP error, before the timeout
        addPathsWith([](const QString& path) {
            const QByteArray name = path.toLatin1();
            const auto row = [&](const char* what, const char* target, qint32 status, bool answered) {
                QTest::addRow("%s: %s", name.constData(), what) << path << QByteArray(target) << status << answered;
            };
            row("no answer", "127.0.0.2", IpStatus::ReqTimedOut, false);
            row("host unreachable", "127.0.0.3", IpStatus::DestHostUnreachable, true);
            row("network unreachable", "127.0.0.4", IpStatus::DestNetUnreachable, true);
            row("port unreachable", "127.0.0.5", IpStatus::DestPortUnreachable, true);
            row("protocol unreachable", "127.0.0.6", IpStatus::DestProtUnreachable, true);
            row("no route", "192.0.2.2", IpStatus::DestNetUnreachable, false);
            row("unreachable route", "192.0.2.3", IpStatus::DestHostUnreachable, false);
            row("prohibited route", "192.0.2.4", IpStatus::GeneralFailure, false);

            row("IPv6: no answer", "fd00:6::2", IpStatus::ReqTimedOut, false);
            row("IPv6: unreachable, no route", "fd00:6::3", IpStatus::DestNetUnreachable, true);
            row("IPv6: unreachable, administratively prohibited", "fd00:6::4", IpStatus::DestHostUnreachable, true);
            row("IPv6: unreachable, address unreachable", "fd00:6::5", IpStatus::DestHostUnreachable, true);
            row("IPv6: unreachable, port unreachable", "fd00:6::6", IpStatus::DestPortUnreachable, true);
            row("IPv6: unreachable, source address failed policy", "fd00:6::7", IpStatus::DestHostUnreachable, true);
            row("IPv6: unreachable, reject route", "fd00:6::8", IpStatus::DestHostUnreachable, true);
            row("IPv6: hop limit exceeded in transit", "fd00:9::1", IpStatus::TtlExpiredTransit, true);
            row("IPv6: no route", "fd00:7::1", IpStatus::DestNetUnreachable, false);
            row("IPv6: unreachable route", "fd00:8::3", IpStatus::DestHostUnreachable, false);
            row("IPv6: prohibited route", "fd00:8::4", IpStatus::GeneralFailure, false);
        });
    }
    void otherOutcomes_giveTheirStatus()
    {
        QFETCH(QString, path);
        QFETCH(QByteArray, target);
        QFETCH(qint32, status);
        QFETCH(bool, answered);
        QVERIFY(usePath(path));
        const auto echo = startEcho(m_echo, target.constData(), "payload");
        QCOMPARE(echo->calls, 0);
        QTRY_COMPARE_WITH_TIMEOUT(echo->calls, 1, kWaitMs);
        QCOMPARE(echo->reply.status, status);
        if (answered) {
            QVERIFY(isErrorFrom(echo->reply, status, target.constData()));
            QVERIFY2(echo->elapsedMs < kTimeoutMs, "ended by the error, not by the timeout");
        } else {
            QVERIFY(isAllZero(echo->reply, status));
        }
    }

    // ICMPv6 errors the kernel cannot be made to send about our requests here, forged quoting the request
    // the test saw: every request fits the IPv6 minimum MTU (1280 bytes), so nothing is too big for a link;
    // none is ever fragmented, so none waits for reassembly; none carries anything a router could object to.
    // The kernel still delivers them to both socket kinds as it would a router's.
    void forgedIcmp6Error_givesItsStatus_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<quint8>("type");
        QTest::addColumn<quint8>("code");
        QTest::addColumn<qint32>("status");
        addPathsWith([](const QString& path) {
            const QByteArray name = path.toLatin1();
            const auto row = [&](const char* what, quint8 type, quint8 code, qint32 status) {
                QTest::addRow("%s: %s", name.constData(), what) << path << type << code << status;
            };
            row("packet too big", icmp::kPacketTooBig6, 0, IpStatus::PacketTooBig);
            row("fragment reassembly time exceeded", icmp::kTimeExceeded6, 1, IpStatus::TtlExpiredReassem);
            row("parameter problem", icmp::kParamProblem6, 0, IpStatus::ParamProblem);
        });
    }
    void forgedIcmp6Error_givesItsStatus()
    {
        QFETCH(QString, path);
        QFETCH(quint8, type);
        QFETCH(quint8, code);
        QFETCH(qint32, status);
        QVERIFY(usePath(path));
        Icmp6Sniffer sniffer;
        QVERIFY(sniffer.isValid());
        const Q_IPV6ADDR target = addr6("fd00:6::2");
        sniffer.onRequest = [&](const Icmp6Sniffer::Request& r) {
            if (std::memcmp(r.destination.c, target.c, 16) != 0)
                return;
            const QByteArray request = icmp6Message(icmp::kEchoRequest6, 0, r.id, r.sequence, r.payload);
            const QByteArray quote = ip6Header(r.source, r.destination, int(request.size()), 64) + request;
            // The MTU a Packet Too Big names, or the offset a Parameter Problem points at.
            const quint16 word2 = type == icmp::kPacketTooBig6 ? 1280 : 0;
            sniffer.forge(addr6("fd00:6::99"), r.source, icmp6Message(type, code, 0, word2, quote));
        };
        const auto echo = startEcho(m_echo, "fd00:6::2", "payload", kWaitMs);
        QTRY_COMPARE_WITH_TIMEOUT(echo->calls, 1, kWaitMs + 1000);
        QCOMPARE(sniffer.requests.size(), 1);
        QVERIFY(isErrorFrom(echo->reply, status, "fd00:6::2"));
    }

    // Every message a raw socket sees, and every error the kernel files for a ping socket, is checked:
    // the test answers our request to the silent 127.0.0.2 with near misses, each wrong in one way only,
    // then a moment later with one genuine reply. Only the genuine one may end the echo.
    void foreignTraffic_isNeverTakenForOurReply_data() { addPaths(); }
    void foreignTraffic_isNeverTakenForOurReply()
    {
        QFETCH(QString, path);
        QVERIFY(usePath(path));
        IcmpSniffer sniffer;
        QVERIFY(sniffer.isValid());
        const quint32 us = addr("127.0.0.1");
        const quint32 target = addr("127.0.0.2");
        bool genuineReplySent = false;
        sniffer.onRequest = [&](const IcmpSniffer::Request& r) {
            if (r.source != us || r.destination != target)
                return;
            const auto reply = [&](quint16 id, quint16 sequence, const QByteArray& body) {
                return icmpMessage(0, 0, id, sequence, body);
            };
            const auto unreachable = [&](quint32 quotedDestination, quint16 id, quint16 sequence) {
                const QByteArray quoted = icmpMessage(8, 0, id, sequence, r.payload);
                return icmpMessage(3, 1, 0, 0, ipHeader(us, quotedDestination, int(quoted.size()), 64) + quoted);
            };
            sniffer.forge(addr("127.0.0.9"), us, reply(r.id, r.sequence, r.payload));
            sniffer.forge(target, us, reply(r.id, quint16(r.sequence + 1), r.payload));
            sniffer.forge(target, us, reply(quint16(r.id + 1), r.sequence, r.payload));
            QByteArray corrupt = reply(r.id, r.sequence, r.payload);
            corrupt[2] = char(~corrupt[2]);
            sniffer.forge(target, us, corrupt);
            QByteArray otherData = r.payload;
            otherData[0] = char(~otherData[0]);
            sniffer.forge(target, us, reply(r.id, r.sequence, otherData));
            sniffer.forge(target, us, reply(r.id, r.sequence, r.payload + "!"));
            sniffer.forge(target, us, unreachable(target, r.id, quint16(r.sequence + 1)));
            sniffer.forge(target, us, unreachable(addr("127.0.0.8"), r.id, r.sequence));
            sniffer.forge(target, us, unreachable(target, quint16(r.id + 1), r.sequence));
            // The near misses carry our data too: an echo wrongly ended by one has ended before this.
            QTimer::singleShot(200, &sniffer, [&, r] {
                sniffer.forge(target, us, reply(r.id, r.sequence, r.payload));
                genuineReplySent = true;
            });
        };
        const auto echo = startEcho(m_echo, "127.0.0.2", "question", kWaitMs);
        QTRY_COMPARE_WITH_TIMEOUT(echo->calls, 1, kWaitMs + 1000);
        QCOMPARE(QByteArray(echo->reply.data.data(), echo->reply.dataSize), QByteArray("question"));
        QVERIFY(genuineReplySent);
        QCOMPARE(echo->reply.status, IpStatus::Success);
        QCOMPARE(echo->reply.address, target);
    }

    // The same for ICMPv6. A raw ICMPv6 socket leaves the checksum to the kernel, which drops a message whose
    // checksum is wrong before it is read; the near miss with a bad checksum checks that.
    void foreignTraffic6_isNeverTakenForOurReply_data() { addPaths(); }
    void foreignTraffic6_isNeverTakenForOurReply()
    {
        QFETCH(QString, path);
        QVERIFY(usePath(path));
        Icmp6Sniffer sniffer;
        QVERIFY(sniffer.isValid());
        const Q_IPV6ADDR target = addr6("fd00:6::2");
        bool genuineReplySent = false;
        sniffer.onRequest = [&](const Icmp6Sniffer::Request& r) {
            if (std::memcmp(r.destination.c, target.c, 16) != 0)
                return;
            const Q_IPV6ADDR us = r.source;
            const auto reply = [&](quint16 id, quint16 sequence, const QByteArray& body) {
                return icmp6Message(icmp::kEchoReply6, 0, id, sequence, body);
            };
            const auto unreachable = [&](const Q_IPV6ADDR& quotedDestination, quint16 id, quint16 sequence) {
                const QByteArray quoted = icmp6Message(icmp::kEchoRequest6, 0, id, sequence, r.payload);
                return icmp6Message(icmp::kDestUnreachable6, 3, 0, 0,
                                    ip6Header(us, quotedDestination, int(quoted.size()), 64) + quoted);
            };
            sniffer.forge(addr6("fd00:6::9"), us, reply(r.id, r.sequence, r.payload));
            sniffer.forge(target, us, reply(r.id, quint16(r.sequence + 1), r.payload));
            sniffer.forge(target, us, reply(quint16(r.id + 1), r.sequence, r.payload));
            sniffer.forge(target, us, reply(r.id, r.sequence, r.payload), false);
            QByteArray otherData = r.payload;
            otherData[0] = char(~otherData[0]);
            sniffer.forge(target, us, reply(r.id, r.sequence, otherData));
            sniffer.forge(target, us, reply(r.id, r.sequence, r.payload + "!"));
            sniffer.forge(target, us, unreachable(target, r.id, quint16(r.sequence + 1)));
            sniffer.forge(target, us, unreachable(addr6("fd00:6::8"), r.id, r.sequence));
            sniffer.forge(target, us, unreachable(target, quint16(r.id + 1), r.sequence));
            sniffer.forge(target, us, unreachable(target, r.id, r.sequence), false);
            // The near misses carry our data too: an echo wrongly ended by one has ended before this.
            QTimer::singleShot(200, &sniffer, [&, r, us] {
                sniffer.forge(target, us, reply(r.id, r.sequence, r.payload));
                genuineReplySent = true;
            });
        };
        const auto echo = startEcho(m_echo, "fd00:6::2", "question", kWaitMs);
        QTRY_COMPARE_WITH_TIMEOUT(echo->calls, 1, kWaitMs + 1000);
        QCOMPARE(QByteArray(echo->reply.data.data(), echo->reply.dataSize), QByteArray("question"));
        QVERIFY(genuineReplySent);
        QCOMPARE(echo->reply.status, IpStatus::Success);
        QCOMPARE(echo->reply.address, 0U);
    }

    // A raw socket's identifier and first sequence number are drawn anew by every process, so they
    // cannot be guessed from its process id or by counting from 1. Each child process started here
    // sends one echo and exits. Any fixed rule fails the checks; chance fails them once in 2^31 runs.
    void rawEcho_eachProcessDrawsItsOwnIdAndFirstSequence()
    {
        QVERIFY(usePath(QStringLiteral("raw")));
        IcmpSniffer sniffer;
        QVERIFY(sniffer.isValid());
        QSet<quint16> ids, sequences;
        int idIsProcessId = 0;
        QByteArray seen;
        for (int i = 0; i < 3; ++i) {
            QProcess child;
            QSignalSpy finished(&child, &QProcess::finished);
            child.start(QCoreApplication::applicationFilePath(), {QString::fromLatin1(kSendOneEcho)});
            QVERIFY(child.waitForStarted(kWaitMs));
            const auto processId = quint16(child.processId());
            QVERIFY(finished.wait(kWaitMs));
            QCOMPARE(child.exitCode(), 0); // it used a raw socket
            QTRY_COMPARE_WITH_TIMEOUT(sniffer.requests.size(), i + 1, kWaitMs);
            const IcmpSniffer::Request& r = sniffer.requests.last();
            QCOMPARE(r.payload, QByteArray(kFirstEchoPayload));
            ids.insert(r.id);
            sequences.insert(r.sequence);
            idIsProcessId += r.id == processId;
            seen += QByteArray::number(processId) + ": id " + QByteArray::number(r.id) + " sequence " +
                    QByteArray::number(r.sequence) + "; ";
        }
        QVERIFY2(idIsProcessId < 3, seen.constData());
        QVERIFY2(ids.size() > 1, seen.constData());
        QVERIFY2(sequences.size() > 1, seen.constData());
    }

    // Echoes of this process share its identifier; a ping program nearby uses its own.
    void concurrentEchoes_eachGetTheirOwnReply_data() { addPaths(); }
    void concurrentEchoes_eachGetTheirOwnReply()
    {
        QFETCH(QString, path);
        QVERIFY(usePath(path));
        QProcess ping;
        const auto stopPing = qScopeGuard([&] {
            ping.kill();
            ping.waitForFinished(2000);
        });
        const QString pingProgram = QStandardPaths::findExecutable(QStringLiteral("ping"));
        IcmpSniffer sniffer;
        QVERIFY(sniffer.isValid());
        if (!pingProgram.isEmpty()) {
            ping.start(pingProgram, QStringLiteral("-q -n -i 0.01 -w 5 -p 5a5a 127.0.0.1").split(u' '));
            QTRY_VERIFY_WITH_TIMEOUT(sniffer.requests.size() >= 3, kWaitMs);
        } else {
            qInfo("no ping program: only this process's echoes share the namespace");
        }

        std::vector<std::unique_ptr<Echo>> echoes;
        for (int i = 0; i < 16; ++i)
            echoes.push_back(startEcho(m_echo, i < 8 ? "127.0.0.1" : "::1", "echo number " + QByteArray::number(i)));
        const auto silent = startEcho(m_echo, "127.0.0.2", "echo to nobody");
        for (int i = 0; i < 16; ++i) {
            QTRY_COMPARE_WITH_TIMEOUT(echoes[i]->calls, 1, kWaitMs);
            QCOMPARE(echoes[i]->reply.status, IpStatus::Success);
            QCOMPARE(QByteArray(echoes[i]->reply.data.data(), echoes[i]->reply.dataSize),
                     "echo number " + QByteArray::number(i));
        }
        QTRY_COMPARE_WITH_TIMEOUT(silent->calls, 1, kWaitMs);
        QCOMPARE(silent->reply.status, IpStatus::ReqTimedOut);
        for (const auto& e : echoes)
            QCOMPARE(e->calls, 1);
    }

    // Each request has its own socket: closed when the request ends, however it ends, or is cancelled.
    void everyEcho_closesItsSocket_andACancelledOneNeverCallsBack_data() { addPaths(); }
    void everyEcho_closesItsSocket_andACancelledOneNeverCallsBack()
    {
        QFETCH(QString, path);
        QVERIFY(usePath(path));
        const auto warmUp = startEcho(m_echo, "127.0.0.1", "warm up");
        QTRY_COMPARE_WITH_TIMEOUT(warmUp->calls, 1, kWaitMs);
        const int files = openFileCount();

        std::vector<std::unique_ptr<Echo>> finished, cancelled;
        for (const char* to :
             {"127.0.0.1", "127.0.0.2", "127.0.0.3", "192.0.2.2", "::1", "fd00:6::2", "fd00:6::5", "fd00:7::1"}) {
            finished.push_back(startEcho(m_echo, to, "x", 200));
            cancelled.push_back(startEcho(m_echo, to, "x", 100));
        }
        QVERIFY(openFileCount() > files);
        for (const auto& e : cancelled)
            e->operation.reset();
        for (const auto& e : finished)
            QTRY_COMPARE_WITH_TIMEOUT(e->calls, 1, kWaitMs); // outlives the cancelled ones' timeouts
        QCOMPARE(openFileCount(), files); // the finished operations still exist, their sockets do not
        for (const auto& e : cancelled)
            QCOMPARE(e->calls, 0);
    }

    // The usual owner: it lets go of the finished operation and starts the next one from the callback.
    void callback_mayDestroyItsOperationAndStartTheNext_data() { addPaths(); }
    void callback_mayDestroyItsOperationAndStartTheNext()
    {
        QFETCH(QString, path);
        QVERIFY(usePath(path));
        std::unique_ptr<PendingOperation> current;
        QList<qint32> statuses;
        const QList<const char*> targets = {"127.0.0.1", "127.0.0.3", "192.0.2.2", "::1",
                                            "fd00:6::5", "fd00:7::1", "127.0.0.1"};
        std::function<void()> next = [&] {
            current = sendTo(m_echo, targets[statuses.size()], "chain", kTimeoutMs, [&](const EchoReply& reply) {
                current.reset();
                statuses.append(reply.status);
                if (statuses.size() < targets.size())
                    next();
            });
        };
        next();
        QTRY_COMPARE_WITH_TIMEOUT(statuses.size(), targets.size(), kWaitMs);
        QCOMPARE(statuses,
                 (QList<qint32>{IpStatus::Success, IpStatus::DestHostUnreachable, IpStatus::DestNetUnreachable,
                                IpStatus::Success, IpStatus::DestHostUnreachable, IpStatus::DestNetUnreachable,
                                IpStatus::Success}));
    }

    void socketKind_followsThePingGroupRangeAndCapabilities()
    {
        QVERIFY(setPingGroupRange("1 0"));
        QCOMPARE(LinuxIcmpEcho::socketKind(), LinuxIcmpEcho::SocketKind::Raw);
        QCOMPARE(LinuxIcmpEcho::socketKind6(), LinuxIcmpEcho::SocketKind::Raw);
        QVERIFY(m_echo.available());
        QVERIFY(m_echo.available6());
        QVERIFY(setPingGroupRange("0 2147483647"));
        QCOMPARE(LinuxIcmpEcho::socketKind(), LinuxIcmpEcho::SocketKind::Ping);
        QCOMPARE(LinuxIcmpEcho::socketKind6(), LinuxIcmpEcho::SocketKind::Ping);
        QVERIFY(m_echo.available());
        QVERIFY(m_echo.available6());

        QVERIFY(setNetRawCapability(true));
        QVERIFY(setPingGroupRange("1 0"));
        QVERIFY(setNetRawCapability(false));
        const auto restore = qScopeGuard([] { setNetRawCapability(true); });
        QCOMPARE(LinuxIcmpEcho::socketKind(), LinuxIcmpEcho::SocketKind::None);
        QCOMPARE(LinuxIcmpEcho::socketKind6(), LinuxIcmpEcho::SocketKind::None);
        QVERIFY(!m_echo.available());
        QVERIFY(!m_echo.available6());
        for (const char* to : {"127.0.0.1", "::1"}) {
            const auto echo = startEcho(m_echo, to, "no socket");
            QCOMPARE(echo->calls, 0);
            QTRY_COMPARE_WITH_TIMEOUT(echo->calls, 1, kWaitMs);
            QVERIFY(isAllZero(echo->reply, IpStatus::GeneralFailure));
        }
    }
};

// The test program is also the child that rawEcho_eachProcessDrawsItsOwnIdAndFirstSequence starts.
int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    if (argc == 2 && qstrcmp(argv[1], kSendOneEcho) == 0)
        return sendFirstEcho();
    TestLinuxIcmpEcho test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_linuxicmpecho.moc"
