#include "platform/LinuxIcmpEcho.h"

// Placeholder until the socket implementation lands.
namespace sondrel::platform {

bool LinuxIcmpEcho::available() { return false; }

std::unique_ptr<PendingOperation> LinuxIcmpEcho::send(quint32, const QByteArray&, int, Done) { return nullptr; }

} // namespace sondrel::platform
