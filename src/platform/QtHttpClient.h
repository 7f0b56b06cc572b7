#pragma once

#include "platform/HttpClient.h"

namespace sondrel::platform {

// HTTP GET through Qt's network access manager on the calling thread.
class QtHttpClient final : public HttpClient {
public:
    std::unique_ptr<PendingOperation> get(const QUrl& url, Handlers handlers) override;
};

} // namespace sondrel::platform
