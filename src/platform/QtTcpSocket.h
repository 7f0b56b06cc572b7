#pragma once

#include "platform/TcpSocket.h"

namespace sondrel::platform {

// TCP sockets made with QTcpSocket.
class QtTcpSocketFactory final : public TcpSocketFactory {
public:
    std::unique_ptr<TcpSocket> create() override;
};

} // namespace sondrel::platform
