#pragma once

#include "platform/PendingOperation.h"

#include <QByteArray>
#include <QHostAddress>
#include <QtGlobal>

#include <array>
#include <functional>
#include <memory>

namespace sondrel::platform {

// IP status codes an echo request can end with.
namespace IpStatus {
inline constexpr qint32 Success = 0;
inline constexpr qint32 BufTooSmall = 11001;
inline constexpr qint32 DestNetUnreachable = 11002;
inline constexpr qint32 DestHostUnreachable = 11003;
inline constexpr qint32 DestProtUnreachable = 11004;
inline constexpr qint32 DestPortUnreachable = 11005;
inline constexpr qint32 PacketTooBig = 11009;
inline constexpr qint32 ReqTimedOut = 11010;
inline constexpr qint32 TtlExpiredTransit = 11013;
inline constexpr qint32 TtlExpiredReassem = 11014;
inline constexpr qint32 ParamProblem = 11015;
inline constexpr qint32 SourceQuench = 11016;
inline constexpr qint32 GeneralFailure = 11050;
} // namespace IpStatus

inline constexpr int kEchoDataAreaSize = 250;

// The outcome of one echo request.
struct EchoReply {
    quint32 address = 0; // who answered, network byte order; 0 for an IPv6 echo
    qint32 status = 0;
    qint32 tripTime = 0;                        // whole milliseconds from send to answer
    qint32 dataSize = 0;                        // number of echoed bytes
    std::array<char, kEchoDataAreaSize> data{}; // echoed payload, zero-filled after it
};

// ICMP echo over the host's sockets.
class IcmpEcho {
public:
    virtual ~IcmpEcho() = default;
    using Done = std::function<void(const EchoReply&)>;

    // True when an ICMP socket (ping socket or raw socket) can be opened now.
    virtual bool available() = 0;

    // Sends one echo request carrying payload (at most kEchoDataAreaSize bytes) to the IPv4 address
    // (network byte order) and calls done exactly once, from the event loop, with the outcome: a reply,
    // an ICMP error, a refused send or ReqTimedOut after timeoutMs.
    virtual std::unique_ptr<PendingOperation> send(quint32 address, const QByteArray& payload, int timeoutMs,
                                                   Done done) = 0;

    // True when an ICMPv6 socket (ping socket or raw socket) can be opened now.
    virtual bool available6() = 0;

    // As send, to an IPv6 address (16 bytes in network order; a global or unique local address, since no
    // interface is named for a link-local one). The reply's address stays 0; status, tripTime, dataSize and
    // data are filled as for IPv4, ICMPv6 errors giving the status of their ICMP counterparts.
    virtual std::unique_ptr<PendingOperation> send6(const Q_IPV6ADDR& address, const QByteArray& payload, int timeoutMs,
                                                    Done done) = 0;
};

} // namespace sondrel::platform
