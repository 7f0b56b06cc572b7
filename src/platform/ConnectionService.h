#pragma once

namespace sondrel::platform {

// The system's Internet connection services.
class ConnectionService {
public:
    virtual ~ConnectionService() = default;
    // True when the system has (or could make) a usable connection.
    virtual bool attemptConnect() = 0;
    // True when the system's automatically made connection was hung up (or there is none to hang up).
    virtual bool hangUp() = 0;
};

} // namespace sondrel::platform
