#pragma once

#include "platform/IcmpEcho.h"

namespace sondrel::platform {

// ICMP echo over a Linux ping socket, or a raw socket where ping sockets are not allowed.
class LinuxIcmpEcho final : public IcmpEcho {
public:
    bool available() override;
    std::unique_ptr<PendingOperation> send(quint32 address, const QByteArray& payload, int timeoutMs,
                                           Done done) override;
};

} // namespace sondrel::platform
