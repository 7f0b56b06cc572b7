#pragma once

#include "platform/SecretStore.h"

namespace sondrel::platform {

// Keeps secrets in the desktop's secret store through QtKeychain, under the service name "Sondrel". It never
// keeps a copy of its own anywhere else: when no store answers, the caller decides where the secret goes.
class KeychainSecretStore final : public SecretStore {
public:
    std::unique_ptr<PendingOperation> read(const QString& key, ReadDone done) override;
    std::unique_ptr<PendingOperation> write(const QString& key, const QString& secret, Done done) override;
    std::unique_ptr<PendingOperation> remove(const QString& key, Done done) override;
};

} // namespace sondrel::platform
