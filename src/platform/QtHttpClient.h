#pragma once

#include "platform/HttpClient.h"

#include <QList>
#include <QSslCertificate>

#include <memory>

class QNetworkAccessManager;

namespace sondrel::platform {

// HTTP GET through Qt's network access manager on the calling thread. Only http and https URLs are
// fetched (anything else fails); certificates are always verified; redirects are followed unless
// they lead from https to http. A response with any HTTP status, 404 and 500 included, is a
// response that arrived: its body is handed over and the transfer finishes. The body is read as
// it arrives and Qt's buffer is bounded, so a large page never sits in memory as a whole. extraAuthorities are
// trusted beside the system's own (tests bring their own authority this way).
class QtHttpClient final : public HttpClient {
public:
    explicit QtHttpClient(QList<QSslCertificate> extraAuthorities = {});
    ~QtHttpClient() override;

    std::unique_ptr<PendingOperation> get(const QUrl& url, Handlers handlers) override;

    // How a certificate's issuer is named to the user: its common name and its organization, or whichever of
    // its names it has.
    static QString issuerName(const QSslCertificate& certificate);

private:
    QList<QSslCertificate> m_extraAuthorities;
    std::unique_ptr<QNetworkAccessManager> m_manager; // made on first use
};

} // namespace sondrel::platform
