#include "platform/QtHttpClient.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QPointer>
#include <QSslConfiguration>
#include <QTimer>

#include <algorithm>
#include <vector>

namespace sondrel::platform {

namespace {

// Bytes Qt may hold for a reply before it stops reading from the connection until they are taken. Each piece is
// decoded and folded into copies of twice its size, so the piece bounds the check's peak memory; at half a
// megabyte the search still keeps pace with the connection.
constexpr qint64 kReadBufferSize = 512 << 10;

// Qt reports an HTTP status of 400 and above as a reply error as well, once the whole response has
// been read. Such an error means the response arrived; a transport error does not.
bool isStatusError(QNetworkReply::NetworkError error, int status)
{
    using E = QNetworkReply::NetworkError;
    switch (status) {
    case 400:
    case 418:
        return error == E::ProtocolInvalidOperationError;
    case 401:
        return error == E::AuthenticationRequiredError;
    case 403:
        return error == E::ContentAccessDenied;
    case 404:
        return error == E::ContentNotFoundError;
    case 405:
        return error == E::ContentOperationNotPermittedError;
    case 407:
        return error == E::ProxyAuthenticationRequiredError;
    case 409:
        return error == E::ContentConflictError;
    case 410:
        return error == E::ContentGoneError;
    case 500:
        return error == E::InternalServerError;
    case 501:
        return error == E::OperationNotImplementedError;
    case 503:
        return error == E::ServiceUnavailableError;
    default:
        break;
    }
    if (status > 500)
        return error == E::UnknownServerError;
    if (status >= 400)
        return error == E::UnknownContentError;
    return false;
}

// What the reply's signal handlers share with the operation; it outlives the operation while a
// handler is running.
struct TransferState {
    HttpClient::Handlers handlers;
    bool active = true;
    bool started = false;
};

class Transfer final : public PendingOperation {
public:
    Transfer(QNetworkAccessManager* manager, const QUrl& url, HttpClient::Handlers handlers,
             const QList<QSslCertificate>& extraAuthorities = {})
        : m_state(std::make_shared<TransferState>())
    {
        m_state->handlers = std::move(handlers);
        if (!manager) {
            QTimer::singleShot(0, [state = m_state] {
                if (state->active && state->handlers.failed)
                    state->handlers.failed();
            });
            return;
        }
        QNetworkRequest request(url);
        request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::NoLessSafeRedirectPolicy);
        request.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
        if (!extraAuthorities.isEmpty()) {
            QSslConfiguration tls = request.sslConfiguration();
            tls.addCaCertificates(extraAuthorities);
            request.setSslConfiguration(tls);
        }
        QNetworkReply* reply = manager->get(request);
        reply->setReadBufferSize(kReadBufferSize);
        m_reply = reply;
        m_connections.push_back(QObject::connect(reply, &QNetworkReply::readyRead, reply, [reply, state = m_state] {
            start(reply, *state);
            if (state->active)
                deliverBody(reply, *state);
        }));
        m_connections.push_back(QObject::connect(reply, &QNetworkReply::finished, reply,
                                                 [reply, state = m_state] { finished(reply, *state); }));
    }

    ~Transfer() override
    {
        m_state->active = false;
        for (const auto& connection : m_connections)
            QObject::disconnect(connection);
        if (m_reply) {
            if (m_reply->isRunning())
                m_reply->abort();
            // Never deleted at once: this may run inside one of the reply's own signals.
            m_reply->deleteLater();
        }
    }

private:
    static void start(QNetworkReply* reply, TransferState& state)
    {
        if (state.started)
            return;
        state.started = true;
        // The headers arrived, so any handshake is over and was accepted; after redirects the certificate is the
        // one of the server that answered.
        const QSslCertificate certificate =
            reply->url().scheme() == u"https" ? reply->sslConfiguration().peerCertificate() : QSslCertificate();
        if (!certificate.isNull() && state.handlers.certificateSeen) {
            QDateTime chainExpiry = certificate.expiryDate();
            for (const QSslCertificate& link : reply->sslConfiguration().peerCertificateChain())
                chainExpiry = std::min(chainExpiry, link.expiryDate());
            state.handlers.certificateSeen(certificate.expiryDate(), QtHttpClient::issuerName(certificate),
                                           chainExpiry);
            if (!state.active)
                return;
        }
        if (state.handlers.responseStarted)
            state.handlers.responseStarted(reply->rawHeader("Content-Type"));
    }

    static void deliverBody(QNetworkReply* reply, TransferState& state)
    {
        const QByteArray bytes = reply->readAll();
        if (!bytes.isEmpty() && state.handlers.bodyData)
            state.handlers.bodyData(bytes);
    }

    static void finished(QNetworkReply* reply, TransferState& state)
    {
        if (!state.active)
            return;
        const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        const QNetworkReply::NetworkError error = reply->error();
        if (error != QNetworkReply::NoError && !isStatusError(error, status)) {
            state.active = false;
            if (state.handlers.failed)
                state.handlers.failed();
            return;
        }
        start(reply, state);
        if (state.active)
            deliverBody(reply, state);
        if (state.active) {
            state.active = false;
            if (state.handlers.finished)
                state.handlers.finished();
        }
    }

    std::shared_ptr<TransferState> m_state;
    QPointer<QNetworkReply> m_reply;
    std::vector<QMetaObject::Connection> m_connections;
};

bool isFetchable(const QUrl& url)
{
    return url.isValid() && (url.scheme() == u"http" || url.scheme() == u"https") && !url.host().isEmpty();
}

} // namespace

QtHttpClient::QtHttpClient(QList<QSslCertificate> extraAuthorities)
    : m_extraAuthorities(std::move(extraAuthorities))
{
}

QtHttpClient::~QtHttpClient() = default;

QString QtHttpClient::issuerName(const QSslCertificate& certificate)
{
    const QString commonName = certificate.issuerInfo(QSslCertificate::CommonName).join(u' ');
    const QString organization = certificate.issuerInfo(QSslCertificate::Organization).join(u' ');
    if (commonName.isEmpty() || organization.isEmpty() || commonName == organization)
        return commonName.isEmpty() ? certificate.issuerDisplayName() : commonName;
    return commonName + QStringLiteral(", ") + organization;
}

std::unique_ptr<PendingOperation> QtHttpClient::get(const QUrl& url, Handlers handlers)
{
    if (!isFetchable(url))
        return std::make_unique<Transfer>(nullptr, url, std::move(handlers));
    if (!m_manager) {
        m_manager = std::make_unique<QNetworkAccessManager>();
        m_manager->setRedirectPolicy(QNetworkRequest::NoLessSafeRedirectPolicy);
    }
    // Every request starts on new connections. When Qt 6.4 reuses the connection state of an earlier
    // request, its bound on buffered body data can fail to hold and a large page piles up in memory.
    // Starting afresh also means every check connects to the site the way the first one did.
    m_manager->clearConnectionCache();
    return std::make_unique<Transfer>(m_manager.get(), url, std::move(handlers), m_extraAuthorities);
}

} // namespace sondrel::platform
