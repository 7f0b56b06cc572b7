#pragma once

#include "platform/IcmpEcho.h"

namespace sondrel::platform {

// ICMP echo over a Linux ping socket, or a raw socket where ping sockets are not allowed. Every
// request opens its own socket and closes it when it ends; replies and errors are taken only when
// they are about that request, and a reply only when it echoes the payload sent.
class LinuxIcmpEcho final : public IcmpEcho {
public:
    enum class SocketKind { None, Ping, Raw };

    // The kind of ICMP socket this process can open now: a ping socket when net.ipv4.ping_group_range
    // holds one of its groups, else a raw socket when it has CAP_NET_RAW.
    static SocketKind socketKind();

    bool available() override;
    // A reply or ICMP error fills address (its sender), tripTime and, for a reply, the echoed data;
    // no answer in time, a refused send and no socket leave everything but the status at zero.
    std::unique_ptr<PendingOperation> send(quint32 address, const QByteArray& payload, int timeoutMs,
                                           Done done) override;
};

} // namespace sondrel::platform
