#pragma once

#include "platform/HttpClient.h"
#include "probe/PageDecoder.h"
#include "probe/PageSearch.h"

#include <QDateTime>
#include <QString>
#include <QTimer>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

namespace sondrel::probe {

inline const QString kTokenOk = QStringLiteral(" WSOK");
inline const QString kTokenNotFound = QStringLiteral(" WSNF");
inline const QString kTokenFailed = QStringLiteral(" WSFL");
inline const QString kTokenTimedOut = QStringLiteral(" WSTO");

// Fetches the monitored page and looks for the main site string in it, giving one status token:
// " WSOK" the page arrived (with any HTTP status) and contains the string; " WSNF" it arrived
// without it; " WSFL" the transfer failed before the whole page arrived, or the address is not an
// http(s) address; " WSTO" the whole response did not arrive within the limit, and the request is
// aborted so that nothing of it can reach a later check.
class PageCheck {
public:
    // The certificate an https site presented, as far as the user is told about it.
    struct SeenCertificate {
        QDateTime expiry;
        QString issuer;
        QDateTime chainExpiry; // the earliest expiry of the chain the server presented
    };

    using Done = std::function<void(const QString& PageToken)>;

    explicit PageCheck(platform::HttpClient& http, std::chrono::milliseconds limit = std::chrono::seconds(30));
    ~PageCheck();
    PageCheck(const PageCheck&) = delete;
    PageCheck& operator=(const PageCheck&) = delete;

    // Starts the request for the (untrimmed) web address text and searches for the (untrimmed) main
    // site string; calls done(token) once, from the event loop, when the outcome is known (never
    // synchronously inside gethtml, never after cancel() or destruction). A check still under way is
    // cancelled first.
    void gethtml(const QString& webAddressText, const QString& mainSiteStringText, Done done);
    // Aborts any request; its done is not called.
    void cancel();

    // What the search still keeps: the end of the page, at most as long as the main site string,
    // without the page's surrounding spaces; set when the whole page has arrived, empty until then.
    const QString& pageText() const { return m_pageText; }
    // The whole response has arrived.
    bool pageDone() const { return m_pageDone; }
    // The request failed or timed out.
    bool pageFailed() const { return m_pageFailed; }
    // The certificate the server presented in the latest check's fetch; none for http, or when no response came.
    const std::optional<SeenCertificate>& certificate() const { return m_certificate; }

private:
    void bodyData(const QByteArray& bytes);
    void settle();
    void deliver(const QString& token);

    platform::HttpClient& m_http;
    std::chrono::milliseconds m_limit;
    QTimer m_timer; // the limit, or a zero wait to report an outcome known while gethtml ran
    std::unique_ptr<platform::PendingOperation> m_transfer;
    std::optional<PageDecoder> m_decoder;
    std::optional<PageSearch> m_search;
    Done m_done;
    bool m_starting = false;
    QString m_settledToken;
    QString m_pageText;
    bool m_pageDone = false;
    bool m_pageFailed = false;
    std::optional<SeenCertificate> m_certificate;
};

} // namespace sondrel::probe
