#include "probe/EchoProbe.h"

#include "platform/CodePage.h"

#include <QHash>
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
    // inet_addr gives all ones both for text it cannot read and for 255.255.255.255.
    const in_addr_t address = ::inet_addr(platform::toCodePage(addressText).constData());
    if (address == INADDR_NONE)
        return std::make_unique<ImmediateOutcome>(kBadAddressStatus, std::move(done));
    const QByteArray payload = platform::toCodePage(packetText);
    if (payload.size() > platform::kEchoDataAreaSize)
        return std::make_unique<ImmediateOutcome>(IpStatus::BufTooSmall, std::move(done));

    return echo.send(address, payload, kEchoTimeoutMs, [done = std::move(done)](const EchoReply& reply) {
        done(reply.status, reply.status == IpStatus::GeneralFailure ? EchoReply{} : reply);
    });
}

} // namespace sondrel::probe
