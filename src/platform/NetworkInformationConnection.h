#pragma once

#include "platform/ConnectionService.h"

namespace sondrel::platform {

// Reads the system's reachability through Qt's network information service. A system without a
// backend counts as always connected; there is no dial-up service to hang up.
class NetworkInformationConnection final : public ConnectionService {
public:
    bool attemptConnect() override;
    bool hangUp() override { return true; }
};

} // namespace sondrel::platform
