#pragma once

#include "platform/PendingOperation.h"

#include <QString>

#include <functional>
#include <memory>

namespace sondrel::platform {

// The desktop's secret store (the Secret Service on the session bus, or KWallet), reached without blocking.
// Secrets are text kept under a key of the program's own.
class SecretStore {
public:
    virtual ~SecretStore() = default;

    enum class Status {
        Done,    // the store answered and did what was asked
        Missing, // the store answered that no secret is kept under the key (read only)
        NoStore, // no store answered (no session bus, no secret service) or it refused
    };
    using ReadDone = std::function<void(Status status, const QString& secret)>;
    using Done = std::function<void(Status status)>;

    // Each call ends with exactly one call of done, from the event loop, unless the returned operation is
    // destroyed first. secret is empty unless status is Done. Removing a key that holds nothing is Done.
    virtual std::unique_ptr<PendingOperation> read(const QString& key, ReadDone done) = 0;
    virtual std::unique_ptr<PendingOperation> write(const QString& key, const QString& secret, Done done) = 0;
    virtual std::unique_ptr<PendingOperation> remove(const QString& key, Done done) = 0;
};

} // namespace sondrel::platform
