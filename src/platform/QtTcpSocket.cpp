#include "platform/QtTcpSocket.h"

// Placeholder until the QTcpSocket implementation lands.
namespace sondrel::platform {

std::unique_ptr<TcpSocket> QtTcpSocketFactory::create() { return nullptr; }

} // namespace sondrel::platform
