#pragma once

#include "platform/PendingOperation.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QUrl>

#include <functional>
#include <memory>

namespace sondrel::platform {

// HTTP GET without blocking the event loop; the body is handed over as it arrives.
class HttpClient {
public:
    virtual ~HttpClient() = default;

    struct Handlers {
        // The response headers arrived (any status); contentType is the Content-Type header's value.
        std::function<void(const QByteArray& contentType)> responseStarted;
        // The next piece of the body, in arrival order.
        std::function<void(const QByteArray& bytes)> bodyData;
        // The whole body has arrived.
        std::function<void()> finished;
        // The transfer failed (refused, reset, name not resolved, TLS, ...).
        std::function<void()> failed;
        // The response came over TLS: the verified certificate of the server that answered, its expiry and its
        // issuer's name, and the earliest expiry of the chain it presented. Called at most once per GET, before
        // responseStarted; optional.
        std::function<void(const QDateTime& expiry, const QString& issuer, const QDateTime& chainExpiry)>
            certificateSeen;
    };

    // Starts a GET of url. Exactly one of finished and failed is called, unless the returned
    // operation is destroyed first, which aborts the request.
    virtual std::unique_ptr<PendingOperation> get(const QUrl& url, Handlers handlers) = 0;
};

} // namespace sondrel::platform
