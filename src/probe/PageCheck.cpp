#include "probe/PageCheck.h"

#include "probe/PageAddress.h"

namespace sondrel::probe {

PageCheck::PageCheck(platform::HttpClient& http, std::chrono::milliseconds limit)
    : m_http(http)
    , m_limit(limit)
{
    m_timer.setSingleShot(true);
    m_timer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&m_timer, &QTimer::timeout, &m_timer, [this] {
        if (!m_settledToken.isEmpty()) {
            deliver(std::exchange(m_settledToken, {}));
            return;
        }
        // The limit passed with neither the page nor an error: stop the request for good.
        m_transfer.reset();
        settle();
    });
}

PageCheck::~PageCheck()
{
    cancel();
}

void PageCheck::gethtml(const QString& webAddressText, const QString& mainSiteStringText, Done done)
{
    cancel();
    m_pageText.clear();
    m_pageDone = false;
    m_pageFailed = false;
    m_certificate.reset();
    m_done = std::move(done);
    m_decoder.reset();
    m_search.emplace(mainSiteStringText);

    m_starting = true;
    const QUrl url = pageAddress(webAddressText);
    if (url.isEmpty()) {
        m_pageFailed = true;
        settle();
    } else {
        platform::HttpClient::Handlers handlers;
        handlers.certificateSeen = [this](const QDateTime& expiry, const QString& issuer,
                                          const QDateTime& chainExpiry) {
            m_certificate = SeenCertificate{expiry, issuer, chainExpiry};
        };
        handlers.responseStarted = [this](const QByteArray& contentType) { m_decoder.emplace(contentType); };
        handlers.bodyData = [this](const QByteArray& bytes) { bodyData(bytes); };
        handlers.finished = [this] {
            m_pageDone = true;
            settle();
        };
        handlers.failed = [this] {
            m_pageFailed = true;
            settle();
        };
        m_transfer = m_http.get(url, std::move(handlers));
        if (m_settledToken.isEmpty())
            m_timer.start(m_limit);
    }
    m_starting = false;
}

void PageCheck::cancel()
{
    m_timer.stop();
    m_transfer.reset();
    m_done = nullptr;
    m_settledToken.clear();
}

void PageCheck::bodyData(const QByteArray& bytes)
{
    // Once the string is found the rest of the body is only drained.
    if (m_search->found())
        return;
    if (!m_decoder)
        m_decoder.emplace(QByteArrayView());
    m_search->feed(m_decoder->decode(bytes));
}

void PageCheck::settle()
{
    QString token;
    if (m_pageFailed) {
        token = kTokenFailed;
    } else if (!m_pageDone) {
        m_pageFailed = true;
        token = kTokenTimedOut;
    } else {
        if (!m_search->found() && m_decoder)
            m_search->feed(m_decoder->finish());
        m_search->finish();
        m_pageText = m_search->kept();
        token = m_search->found() ? kTokenOk : kTokenNotFound;
    }
    if (m_starting) {
        m_settledToken = token;
        m_timer.start(0);
        return;
    }
    deliver(token);
}

void PageCheck::deliver(const QString& token)
{
    m_timer.stop();
    // done may start the next check or destroy this object, so it is the last thing done here.
    const Done done = std::exchange(m_done, nullptr);
    if (done)
        done(token);
}

} // namespace sondrel::probe
