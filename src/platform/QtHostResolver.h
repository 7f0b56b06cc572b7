#pragma once

#include "platform/HostResolver.h"

namespace sondrel::platform {

// Resolves names with Qt's asynchronous host lookup.
class QtHostResolver final : public HostResolver {
public:
    std::unique_ptr<PendingOperation> lookup(const QString& name, Done done) override;
};

} // namespace sondrel::platform
