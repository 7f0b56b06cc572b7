#include "core/SiteImport.h"

#include "probe/PageAddress.h"
#include "store/SiteSettings.h"
#include "store/StoredText.h"

#include <QHostAddress>
#include <QSet>

#include <algorithm>
#include <limits>

namespace sondrel::core {

namespace {

bool isIpAddress(const QString& text)
{
    const QAbstractSocket::NetworkLayerProtocol protocol = QHostAddress(text).protocol();
    return protocol == QAbstractSocket::IPv4Protocol || protocol == QAbstractSocket::IPv6Protocol;
}

// Why the line cannot be a site's web address, or nothing when it can. The field keeps any script (as UTF-8 where
// the code page lacks a character), so only its length in stored bytes limits it.
QString refusal(const QByteArray& line, const QString& text)
{
    if (!line.isValidUtf8())
        return QStringLiteral("not UTF-8 text");
    if (std::any_of(text.begin(), text.end(), [](QChar c) { return c.isSpace(); }))
        return QStringLiteral("contains a space");
    if (std::any_of(text.begin(), text.end(), [](QChar c) { return c.category() == QChar::Other_Control; }))
        return QStringLiteral("contains a control character");
    if (store::encodeStoredText(text, std::numeric_limits<qsizetype>::max()).size() > store::kSiteTextWidth)
        return QStringLiteral("longer than %1 bytes").arg(store::kSiteTextWidth);
    if (probe::pageAddress(text).isEmpty() && !isIpAddress(text))
        return QStringLiteral("not a web address");
    return {};
}

} // namespace

SiteImport parseSiteList(const QByteArray& fileContent, const QStringList& alreadySaved)
{
    QByteArrayView content(fileContent);
    if (content.startsWith("\xEF\xBB\xBF"))
        content = content.sliced(3);

    QSet<QString> saved;
    for (const QString& address : alreadySaved)
        saved.insert(address.trimmed().toCaseFolded());
    QSet<QString> listed;

    SiteImport result;
    int lineNumber = 0;
    while (!content.isEmpty()) {
        ++lineNumber;
        const qsizetype end = content.indexOf('\n');
        QByteArray line = content.first(end < 0 ? content.size() : end).toByteArray();
        content = end < 0 ? QByteArrayView() : content.sliced(end + 1);
        if (line.endsWith('\r'))
            line.chop(1);

        const QString text = QString::fromUtf8(line).trimmed();
        if (text.isEmpty() || text.startsWith(u'#'))
            continue;
        QString reason = refusal(line, text);
        const QString key = text.toCaseFolded();
        if (reason.isEmpty() && saved.contains(key))
            reason = QStringLiteral("already a site");
        if (reason.isEmpty() && listed.contains(key))
            reason = QStringLiteral("listed twice");
        if (!reason.isEmpty()) {
            result.refused.append({lineNumber, text, reason});
            continue;
        }
        listed.insert(key);
        result.addresses.append(text);
    }
    return result;
}

} // namespace sondrel::core
