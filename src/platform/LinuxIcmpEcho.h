#pragma once

#include "platform/IcmpEcho.h"

namespace sondrel::platform {

// ICMP and ICMPv6 echo over a Linux ping socket, or a raw socket where ping sockets are not allowed. Every
// request opens its own socket and closes it when it ends; replies and errors are taken only when
// they are about that request, and a reply only when it echoes the payload sent.
class LinuxIcmpEcho final : public IcmpEcho {
public:
    enum class SocketKind { None, Ping, Raw };

    // The kind of ICMP socket this process can open now: a ping socket when net.ipv4.ping_group_range
    // holds one of its groups, else a raw socket when it has CAP_NET_RAW.
    static SocketKind socketKind();
    // The same for ICMPv6, which follows the same group range and capability; None where IPv6 is disabled.
    static SocketKind socketKind6();

    bool available() override;
    // A reply or ICMP error fills address (its sender), tripTime and, for a reply, the echoed data;
    // no answer in time, a refused send and no socket leave everything but the status at zero.
    std::unique_ptr<PendingOperation> send(quint32 address, const QByteArray& payload, int timeoutMs,
                                           Done done) override;
    bool available6() override;
    // As send; the reply's address stays 0.
    std::unique_ptr<PendingOperation> send6(const Q_IPV6ADDR& address, const QByteArray& payload, int timeoutMs,
                                            Done done) override;
};

} // namespace sondrel::platform
