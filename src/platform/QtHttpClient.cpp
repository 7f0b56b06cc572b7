#include "platform/QtHttpClient.h"

// Placeholder until the network access manager implementation lands.
namespace sondrel::platform {

std::unique_ptr<PendingOperation> QtHttpClient::get(const QUrl&, Handlers) { return nullptr; }

} // namespace sondrel::platform
