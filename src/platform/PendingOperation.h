#pragma once

namespace sondrel::platform {

// An asynchronous operation under way. Destroying it cancels the operation: its completion
// callback is never called after the destructor has returned.
class PendingOperation {
public:
    virtual ~PendingOperation() = default;
};

} // namespace sondrel::platform
