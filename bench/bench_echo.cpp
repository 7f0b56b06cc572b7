// Echo probes per second against 127.0.0.1 through the event loop, and one echo's trip time next to
// the system's ping program; then echoes per second to 127.0.0.1 and to ::1 straight through the platform
// interface, and their ratio. Only loopback is probed.
#include "platform/LinuxIcmpEcho.h"
#include "probe/EchoProbe.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

#include <arpa/inet.h>
#include <sched.h>
#include <unistd.h>

using namespace sondrel;

namespace {

// Runs the event loop until finished() holds or timeoutMs pass; wake() is called when it may hold.
struct Waiter {
    QEventLoop loop;
    void wake() { loop.quit(); }
    bool waitFor(const std::function<bool()>& finished, int timeoutMs)
    {
        QElapsedTimer timer;
        timer.start();
        QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
        while (!finished() && timer.elapsed() < timeoutMs)
            loop.exec();
        return finished();
    }
};

const QString kTarget = QStringLiteral("127.0.0.1");
const QString kPacket = QStringLiteral("Sondrel echo benchmark packet");

// Starts one echo; done gets its status and reply.
using EchoStarter = std::function<std::unique_ptr<platform::PendingOperation>(
    std::function<void(qint32 status, const platform::EchoReply& reply)> done)>;

// As a check sends it: the address and packet as text, through the probe layer.
EchoStarter throughProbe(platform::IcmpEcho& echo)
{
    return [&echo](auto done) { return probe::pingaddress(echo, kTarget, kPacket, std::move(done)); };
}

// Straight through IcmpEcho::send or send6, to the loopback address of that family.
EchoStarter direct(platform::IcmpEcho& echo, bool ipv6)
{
    return [&echo, ipv6](auto done) {
        const auto report = [done = std::move(done)](const platform::EchoReply& reply) { done(reply.status, reply); };
        const QByteArray payload = kPacket.toLatin1();
        if (ipv6) {
            Q_IPV6ADDR loopback{};
            loopback.c[15] = 1;
            return echo.send6(loopback, payload, probe::kEchoTimeoutMs, report);
        }
        return echo.send(::inet_addr("127.0.0.1"), payload, probe::kEchoTimeoutMs, report);
    };
}

const char* kindName(platform::LinuxIcmpEcho::SocketKind kind)
{
    switch (kind) {
    case platform::LinuxIcmpEcho::SocketKind::Ping:
        return "ping socket";
    case platform::LinuxIcmpEcho::SocketKind::Raw:
        return "raw socket";
    case platform::LinuxIcmpEcho::SocketKind::None:
        break;
    }
    return "no ICMP socket";
}

double median(std::vector<double> values)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// count echoes one after the other, each started from the previous one's callback; gives echoes per second.
double backToBack(const char* label, const EchoStarter& start, int count)
{
    Waiter waiter;
    std::unique_ptr<platform::PendingOperation> current;
    int done = 0;
    int failed = 0;
    std::function<void()> next = [&] {
        current = start([&](qint32 status, const platform::EchoReply&) {
            current.reset();
            failed += status != platform::IpStatus::Success;
            if (++done < count)
                next();
            else
                waiter.wake();
        });
    };
    QElapsedTimer wall;
    wall.start();
    next();
    if (!waiter.waitFor([&] { return done == count; }, 600000))
        std::printf("  gave up waiting after %d echoes\n", done);
    const double seconds = wall.nsecsElapsed() / 1e9;
    std::printf("  %s: %d echoes back to back: %.2f s, %.0f checks/s, %.1f us per echo, %d not answered\n", label, done,
                seconds, done / seconds, seconds * 1e6 / std::max(done, 1), failed);
    return done / seconds;
}

// Median time from the start of an echo to its callback, and the trip time the reply reports.
void singleEchoes(const char* label, const EchoStarter& start, int count)
{
    std::vector<double> micros;
    qint32 maxTripTime = 0;
    Waiter waiter;
    for (int i = 0; i < count; ++i) {
        bool finished = false;
        QElapsedTimer timer;
        timer.start();
        auto operation = start([&](qint32, const platform::EchoReply& reply) {
            micros.push_back(timer.nsecsElapsed() / 1e3);
            maxTripTime = std::max(maxTripTime, reply.tripTime);
            finished = true;
            waiter.wake();
        });
        if (!waiter.waitFor([&] { return finished; }, 5000))
            break;
    }
    std::printf("  %s: one echo: median %.1f us from call to callback over %d echoes; reported trip time at most "
                "%d ms\n",
                label, median(micros), count, maxTripTime);
}

// The ping program's own round-trip figure and how long the whole program takes.
void systemPing(int count)
{
    const QString program = QStandardPaths::findExecutable(QStringLiteral("ping"));
    if (program.isEmpty()) {
        std::printf("  ping program not found: no comparison\n");
        return;
    }
    const QRegularExpression timeField(QStringLiteral("time=([0-9.]+) ms"));
    std::vector<double> reported;
    std::vector<double> wallMs;
    for (int i = 0; i < count; ++i) {
        QProcess ping;
        Waiter waiter;
        QObject::connect(&ping, &QProcess::finished, [&] { waiter.wake(); });
        QObject::connect(&ping, &QProcess::errorOccurred, [&] { waiter.wake(); });
        QElapsedTimer timer;
        timer.start();
        ping.start(program, {QStringLiteral("-n"), QStringLiteral("-c"), QStringLiteral("1"), kTarget});
        if (!waiter.waitFor([&] { return ping.state() == QProcess::NotRunning; }, 5000)) {
            ping.kill();
            continue;
        }
        wallMs.push_back(timer.nsecsElapsed() / 1e6);
        const auto match = timeField.match(QString::fromLocal8Bit(ping.readAllStandardOutput()));
        if (match.hasMatch())
            reported.push_back(match.captured(1).toDouble() * 1000.0);
    }
    std::printf("  ping -c 1 %s: median reported time %.1f us, median %.1f ms for the whole program (%d runs)\n",
                qPrintable(kTarget), median(reported), median(wallMs), count);
}

void measure(platform::LinuxIcmpEcho& echo, int count)
{
    using platform::LinuxIcmpEcho;
    std::printf("%s (ICMPv6: %s):\n", kindName(LinuxIcmpEcho::socketKind()), kindName(LinuxIcmpEcho::socketKind6()));
    singleEchoes("127.0.0.1 through pingaddress", throughProbe(echo), 200);
    systemPing(5);
    backToBack("127.0.0.1 through pingaddress", throughProbe(echo), count);
    if (!echo.available6()) {
        std::printf("  no ICMPv6 socket: no IPv6 figures\n");
        return;
    }
    singleEchoes("::1 through send6", direct(echo, true), 200);
    const double ipv4 = backToBack("127.0.0.1 through send", direct(echo, false), count);
    const double ipv6 = backToBack("::1 through send6", direct(echo, true), count);
    std::printf("  IPv6/IPv4 echoes per second: %.2f\n", ipv6 / ipv4);
}

// A private network namespace where ping sockets are allowed, to measure the other path too.
bool enterNamespaceWithPingSockets()
{
    if (::geteuid() != 0 || ::unshare(CLONE_NEWNET) != 0)
        return false;
    QProcess ip;
    Waiter waiter;
    QObject::connect(&ip, &QProcess::finished, [&] { waiter.wake(); });
    QObject::connect(&ip, &QProcess::errorOccurred, [&] { waiter.wake(); });
    ip.start(QStringLiteral("ip"),
             {QStringLiteral("link"), QStringLiteral("set"), QStringLiteral("lo"), QStringLiteral("up")});
    if (!waiter.waitFor([&] { return ip.state() == QProcess::NotRunning; }, 5000))
        return false;
    QFile range(QStringLiteral("/proc/sys/net/ipv4/ping_group_range"));
    return ip.exitCode() == 0 && range.open(QIODevice::WriteOnly) && range.write("0 2147483647") > 0;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication application(argc, argv);
    const int count = argc > 1 ? QByteArray(argv[1]).toInt() : 20000;

    platform::LinuxIcmpEcho echo;
    if (!probe::startsockets(echo)) {
        std::printf("no ICMP socket can be opened: allow ping sockets (net.ipv4.ping_group_range) or run as root\n");
        return 0;
    }
    measure(echo, count);
    if (platform::LinuxIcmpEcho::socketKind() == platform::LinuxIcmpEcho::SocketKind::Raw &&
        enterNamespaceWithPingSockets())
        measure(echo, count);
    return 0;
}
