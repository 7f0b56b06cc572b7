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

// Inside the test's own network namespace: 127.0.0.2 answers nothing (its replies are dropped unless
// they carry the TTL the test forges them with), 127.0.0.3 to .6 reject echo requests with an ICMP
// error, 192.0.2.0/24 has no route, .3 an unreachable route and .4 a prohibited one.
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
)";

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

// One echo under way and what it ended with.
struct Echo {
    std::unique_ptr<PendingOperation> operation;
    int calls = 0;
    EchoReply reply;
    qint64 elapsedMs = -1;
    QElapsedTimer timer;
};

std::unique_ptr<Echo> startEcho(LinuxIcmpEcho& echo, const char* to, const QByteArray& payload,
                                int timeoutMs = kTimeoutMs)
{
    auto e = std::make_unique<Echo>();
    e->timer.start();
    e->operation = echo.send(addr(to), payload, timeoutMs, [p = e.get()](const EchoReply& reply) {
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

    // Chooses the socket the echo will use: "raw" leaves ping sockets forbidden, "ping" allows them.
    bool usePath(const QString& path)
    {
        const bool ping = path == QLatin1String("ping");
        if (!setPingGroupRange(ping ? "0 2147483647" : "1 0"))
            return false;
        return LinuxIcmpEcho::socketKind() == (ping ? LinuxIcmpEcho::SocketKind::Ping : LinuxIcmpEcho::SocketKind::Raw);
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
    }

    void reply_fromLoopback_carriesTheEchoedPayload_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QByteArray>("payload");
        QByteArray full(kEchoDataAreaSize, '\0');
        for (int i = 0; i < full.size(); ++i)
            full[i] = char(i * 7 + 1); // byte 73 is zero: the data size is not a string length
        addPathsWith([&](const QString& path) {
            QTest::addRow("%s: text", qPrintable(path)) << path << QByteArray("Sondrel \x80\xE9 probe");
            QTest::addRow("%s: empty", qPrintable(path)) << path << QByteArray();
            QTest::addRow("%s: full data area", qPrintable(path)) << path << full;
        });
    }
    void reply_fromLoopback_carriesTheEchoedPayload()
    {
        QFETCH(QString, path);
        QFETCH(QByteArray, payload);
        QVERIFY(usePath(path));
        const auto echo = startEcho(m_echo, "127.0.0.1", payload);
        QCOMPARE(echo->calls, 0); // never from inside send()
        QTRY_COMPARE_WITH_TIMEOUT(echo->calls, 1, kWaitMs);
        const EchoReply& reply = echo->reply;
        QCOMPARE(reply.status, IpStatus::Success);
        QCOMPARE(reply.address, addr("127.0.0.1"));
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
        QTest::addColumn<bool>("answered"); // by an ICMP error from the target
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
        if (answered) {
            QCOMPARE(echo->reply.status, status);
            QCOMPARE(echo->reply.address, addr(target.constData()));
            QCOMPARE(echo->reply.dataSize, 0);
        } else {
            QVERIFY(isAllZero(echo->reply, status));
        }
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
        for (int i = 0; i < 8; ++i)
            echoes.push_back(startEcho(m_echo, "127.0.0.1", "echo number " + QByteArray::number(i)));
        const auto silent = startEcho(m_echo, "127.0.0.2", "echo to nobody");
        for (int i = 0; i < 8; ++i) {
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
        for (const char* to : {"127.0.0.1", "127.0.0.2", "127.0.0.3", "192.0.2.2"}) {
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
        const QList<const char*> targets = {"127.0.0.1", "127.0.0.3", "192.0.2.2", "127.0.0.1"};
        std::function<void()> next = [&] {
            current = m_echo.send(addr(targets[statuses.size()]), "chain", kTimeoutMs, [&](const EchoReply& reply) {
                current.reset();
                statuses.append(reply.status);
                if (statuses.size() < targets.size())
                    next();
            });
        };
        next();
        QTRY_COMPARE_WITH_TIMEOUT(statuses.size(), targets.size(), kWaitMs);
        QCOMPARE(statuses, (QList<qint32>{IpStatus::Success, IpStatus::DestHostUnreachable,
                                          IpStatus::DestNetUnreachable, IpStatus::Success}));
    }

    void socketKind_followsThePingGroupRangeAndCapabilities()
    {
        QVERIFY(setPingGroupRange("1 0"));
        QCOMPARE(LinuxIcmpEcho::socketKind(), LinuxIcmpEcho::SocketKind::Raw);
        QVERIFY(m_echo.available());
        QVERIFY(setPingGroupRange("0 2147483647"));
        QCOMPARE(LinuxIcmpEcho::socketKind(), LinuxIcmpEcho::SocketKind::Ping);
        QVERIFY(m_echo.available());

        QVERIFY(setNetRawCapability(true));
        QVERIFY(setPingGroupRange("1 0"));
        QVERIFY(setNetRawCapability(false));
        const auto restore = qScopeGuard([] { setNetRawCapability(true); });
        QCOMPARE(LinuxIcmpEcho::socketKind(), LinuxIcmpEcho::SocketKind::None);
        QVERIFY(!m_echo.available());
        const auto echo = startEcho(m_echo, "127.0.0.1", "no socket");
        QCOMPARE(echo->calls, 0);
        QTRY_COMPARE_WITH_TIMEOUT(echo->calls, 1, kWaitMs);
        QVERIFY(isAllZero(echo->reply, IpStatus::GeneralFailure));
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
