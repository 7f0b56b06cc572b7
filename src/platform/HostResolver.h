#pragma once

#include "platform/PendingOperation.h"

#include <QString>

#include <functional>
#include <memory>

namespace sondrel::platform {

// Name resolution without blocking the event loop.
class HostResolver {
public:
    virtual ~HostResolver() = default;
    using Done = std::function<void(const QString& address)>;

    // Resolves name exactly as given and calls done once, from the event loop, with its first IPv4
    // address in dotted form, else (a name with only IPv6 addresses) its first IPv6 address in the usual
    // compressed form, or with empty text when it does not resolve. An IPv6 literal is its own address.
    virtual std::unique_ptr<PendingOperation> lookup(const QString& name, Done done) = 0;
};

} // namespace sondrel::platform
