#include "platform/OAuthTransport.h"

#include <QTimer>

namespace sondrel::platform {

namespace {

// Placeholder until the real transport lands: every call fails from the event loop.
class UnavailableTransport final : public OAuthTransport {
public:
    std::unique_ptr<PendingOperation> postForm(const QUrl&, const QByteArray&, int, FormDone done) override
    {
        QTimer::singleShot(0, [done] { done({0, {}, QStringLiteral("Not available.")}); });
        return std::make_unique<PendingOperation>();
    }
    std::unique_ptr<RedirectListener> listenForRedirect(RedirectReceived, QString* error) override
    {
        if (error)
            *error = QStringLiteral("Not available.");
        return nullptr;
    }
    std::unique_ptr<PendingOperation> runCommand(const QString&, int, qsizetype, CommandDone done) override
    {
        QTimer::singleShot(0, [done] { done({false, {}, QStringLiteral("Not available.")}); });
        return std::make_unique<PendingOperation>();
    }
};

} // namespace

OAuthTransport& OAuthTransport::system()
{
    static UnavailableTransport transport;
    return transport;
}

} // namespace sondrel::platform
