#pragma once

namespace sondrel::platform {

// An asynchronous operation under way. Destroying it cancels the operation: its completion
// callback is never called after the destructor has returned. The callback itself may destroy the
// operation, so an implementation touches nothing of its own after calling it.
class PendingOperation {
public:
    virtual ~PendingOperation() = default;
};

} // namespace sondrel::platform
