#include "probe/EchoProbe.h"

#include "platform/CodePage.h"

#include <QHash>
#include <QHostAddress>
#include <QObject>

#include <arpa/inet.h>

namespace sondrel::probe {

namespace {

using platform::EchoReply;
namespace IpStatus = platform::IpStatus;

// An outcome known without sending anything, still delivered from the event loop like any other.
class ImmediateOutcome final : public QObject, public platform::PendingOperation {
public:
    ImmediateOutcome(qint32 status, std::function<void(qint32, const EchoReply&)> done)
    {
        QMetaObject::invokeMethod(
            this, [status, done = std::move(done)] { done(status, EchoReply{}); }, Qt::QueuedConnection);
    }
};

const QHash<qint32, QString>& statusTexts()
{
    static const QHash<qint32, QString> texts = {
        {-1, QStringLiteral("inet_addr: bad IP format")},
        {0, QStringLiteral("ip success")},
        {500, QStringLiteral("ping timeout")},
        {11001, QStringLiteral("ip buf too_small")},
        {11002, QStringLiteral("ip dest net unreachable")},
        {11003, QStringLiteral("ip dest host unreachable")},
        {11004, QStringLiteral("ip dest prot unreachable")},
        {11005, QStringLiteral("ip dest port unreachable")},
        {11006, QStringLiteral("ip no resources")},
        {11007, QStringLiteral("ip bad option")},
        {11008, QStringLiteral("ip hw_error")},
        {11009, QStringLiteral("ip packet too_big")},
        {11010, QStringLiteral("ip req timed out")},
        {11011, QStringLiteral("ip bad req")},
        {11012, QStringLiteral("ip bad route")},
        {11013, QStringLiteral("ip ttl expired transit")},
        {11014, QStringLiteral("ip ttl expired reassem")},
        {11015, QStringLiteral("ip param_problem")},
        {11016, QStringLiteral("ip source quench")},
        {11017, QStringLiteral("ip option too_big")},
        {11018, QStringLiteral("ip bad destination")},
        {11019, QStringLiteral("ip addr deleted")},
        {11020, QStringLiteral("ip spec mtu change")},
        {11021, QStringLiteral("ip mtu_change")},
        {11022, QStringLiteral("ip unload")},
        {11023, QStringLiteral("ip addr added")},
        {11050, QStringLiteral("ip general failure")},
        {11255, QStringLiteral("ip pending")},
    };
    return texts;
}

} // namespace

bool startsockets(platform::IcmpEcho& echo)
{
    return echo.available();
}

void cleanupsockets() {}

QString formatip(const std::array<quint8, 4>& bytes)
{
    return QStringLiteral("%1.%2.%3.%4").arg(bytes[0]).arg(bytes[1]).arg(bytes[2]).arg(bytes[3]);
}

QString pingstatustext(qint32 code)
{
    const QString text = statusTexts().value(code, QStringLiteral("unknown  msg returned"));
    return QString::number(code) + QStringLiteral("   [ ") + text + QStringLiteral(" ]");
}

std::unique_ptr<platform::PendingOperation> gethostip(platform::HostResolver& resolver, const QString& hostName,
                                                      std::function<void(const QString&)> done)
{
    return resolver.lookup(hostName, std::move(done));
}

std::unique_ptr<platform::PendingOperation>
pingaddress(platform::IcmpEcho& echo, const QString& addressText, const QString& packetText,
            std::function<void(qint32 status, const platform::EchoReply& reply)> done)
{
    const QByteArray addressBytes = platform::toCodePage(addressText);
    in6_addr address6{};
    const bool ipv6 = addressText.contains(u':') && ::inet_pton(AF_INET6, addressBytes.constData(), &address6) == 1;
    // inet_addr gives all ones both for text it cannot read and for 255.255.255.255.
    const in_addr_t address = ipv6 ? INADDR_NONE : ::inet_addr(addressBytes.constData());
    if (!ipv6 && address == INADDR_NONE)
        return std::make_unique<ImmediateOutcome>(kBadAddressStatus, std::move(done));
    const QByteArray payload = platform::toCodePage(packetText);
    if (payload.size() > platform::kEchoDataAreaSize)
        return std::make_unique<ImmediateOutcome>(IpStatus::BufTooSmall, std::move(done));

    auto report = [done = std::move(done)](const EchoReply& reply) {
        done(reply.status, reply.status == IpStatus::GeneralFailure ? EchoReply{} : reply);
    };
    if (ipv6) {
        Q_IPV6ADDR bytes;
        std::copy(std::begin(address6.s6_addr), std::end(address6.s6_addr), std::begin(bytes.c));
        // An IPv4 address written in IPv6 form ("::ffff:192.0.2.1") is reached over IPv4.
        bool mapped = false;
        const quint32 v4 = QHostAddress(bytes).toIPv4Address(&mapped);
        if (!mapped)
            return echo.send6(bytes, payload, kEchoTimeoutMs, std::move(report));
        return echo.send(htonl(v4), payload, kEchoTimeoutMs, std::move(report));
    }
    return echo.send(address, payload, kEchoTimeoutMs, std::move(report));
}

} // namespace sondrel::probe
