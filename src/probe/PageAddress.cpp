#include "probe/PageAddress.h"

#include <QHostAddress>
#include <QRegularExpression>

namespace sondrel::probe {

QUrl pageAddress(const QString& webAddressText)
{
    const QString text = webAddressText.trimmed();
    if (text.isEmpty())
        return {};

    QUrl url;
    // "name:" followed by anything but a port number names a scheme ("https:", "file:", "mailto:");
    // "host:8080" is a host and port.
    static const QRegularExpression scheme(QStringLiteral("^[A-Za-z][A-Za-z0-9+.-]*:(?!\\d+(?:[/?#]|$))"));
    if (scheme.match(text).hasMatch()) {
        url = QUrl(text, QUrl::TolerantMode);
    } else if (QHostAddress(text).protocol() == QAbstractSocket::IPv6Protocol) {
        url.setScheme(QStringLiteral("http"));
        url.setHost(text);
    } else if (!text.startsWith(u'/') && !text.startsWith(u'\\')) {
        url = QUrl(QStringLiteral("http://") + text, QUrl::TolerantMode);
    }

    const QString urlScheme = url.scheme();
    if (!url.isValid() || (urlScheme != u"http" && urlScheme != u"https") || url.host().isEmpty())
        return {};
    return url;
}

QString pingTarget(const QString& webAddressText)
{
    const QString text = webAddressText.trimmed();
    const bool bareIpv6 = QHostAddress(text).protocol() == QAbstractSocket::IPv6Protocol && !text.startsWith(u'[');
    const bool urlLike = text.contains(u'/') || text.contains(u'[') || (text.contains(u':') && !bareIpv6);
    if (!urlLike)
        return webAddressText;
    const QUrl page = pageAddress(text);
    if (!page.isEmpty())
        return page.host();
    // Not a page Sondrel fetches ("ftp://host"), but still a host to ping.
    const QUrl other(text, QUrl::TolerantMode);
    return other.host().isEmpty() ? webAddressText : other.host();
}

} // namespace sondrel::probe
