#include "store/SiteSettings.h"

#include "store/FixedText.h"
#include "store/Paths.h"
#include "store/RecordFile.h"

#include <algorithm>
#include <limits>

namespace sondrel::store {

namespace {

constexpr qsizetype kWebAddressAt = 0;
constexpr qsizetype kPacketStringAt = 255;
constexpr qsizetype kIntervalAt = 510;
constexpr qsizetype kMainSiteStringAt = 512;
constexpr qsizetype kConnectionTypeAt = 767;
constexpr qsizetype kAutoDisconnectAt = 769;
constexpr qsizetype kEmailNotificationAt = 771;
constexpr qsizetype kCheckMainPageAt = 773;

bool isBlank(QChar c)
{
    return c == u' ' || c == u'\t';
}

bool isDigit(QChar c)
{
    return c >= u'0' && c <= u'9';
}

} // namespace

QByteArray encodeSiteSettings(const SiteSettings& settings)
{
    QByteArray record(kSiteSettingsLength, '\0');
    writeFixedText(record, kWebAddressAt, kSiteTextWidth, trimSpaces(settings.webAddress));
    writeFixedText(record, kPacketStringAt, kSiteTextWidth, trimSpaces(settings.packetString));
    writeInt16(record, kIntervalAt, settings.interval);
    writeFixedText(record, kMainSiteStringAt, kSiteTextWidth, trimSpaces(settings.mainSiteString));
    writeInt16(record, kConnectionTypeAt, settings.connectionType);
    writeInt16(record, kAutoDisconnectAt, settings.autoDisconnect);
    writeInt16(record, kEmailNotificationAt, settings.emailNotification);
    writeInt16(record, kCheckMainPageAt, settings.checkMainPage);
    return record;
}

SiteSettings decodeSiteSettings(QByteArrayView stored)
{
    QByteArray record = stored.first(qMin(stored.size(), kSiteSettingsLength)).toByteArray();
    record.append(QByteArray(kSiteSettingsLength - record.size(), '\0'));

    SiteSettings settings;
    settings.webAddress = readFixedText(record, kWebAddressAt, kSiteTextWidth);
    settings.packetString = readFixedText(record, kPacketStringAt, kSiteTextWidth);
    settings.interval = readInt16(record, kIntervalAt);
    settings.mainSiteString = readFixedText(record, kMainSiteStringAt, kSiteTextWidth);
    settings.connectionType = readInt16(record, kConnectionTypeAt);
    settings.autoDisconnect = readInt16(record, kAutoDisconnectAt);
    settings.emailNotification = readInt16(record, kEmailNotificationAt);
    settings.checkMainPage = readInt16(record, kCheckMainPageAt);
    return settings;
}

qint16 intervalToStore(const QString& intervalText)
{
    constexpr int kMin = std::numeric_limits<qint16>::min();
    constexpr int kMax = std::numeric_limits<qint16>::max();

    qsizetype i = 0;
    const qsizetype n = intervalText.size();
    while (i < n && isBlank(intervalText[i]))
        ++i;
    bool negative = false;
    if (i < n && (intervalText[i] == u'-' || intervalText[i] == u'+'))
        negative = intervalText[i++] == u'-';

    // Whole part saturates just past the 16-bit range; only the first decimal decides the rounding.
    int whole = 0;
    bool anyDigit = false;
    for (; i < n && isDigit(intervalText[i]); ++i) {
        anyDigit = true;
        whole = qMin(whole * 10 + (intervalText[i].unicode() - u'0'), kMax + 2);
    }
    if (i < n && intervalText[i] == u'.') {
        ++i;
        if (i < n && isDigit(intervalText[i])) {
            anyDigit = true;
            if (intervalText[i].unicode() >= u'5')
                ++whole;
        }
    }
    if (!anyDigit)
        return 0;
    return static_cast<qint16>(std::clamp(negative ? -whole : whole, kMin, kMax));
}

std::vector<int> unusedSites(const std::vector<SiteSettings>& all, qsizetype count)
{
    std::vector<int> sites;
    for (int site = 1; site <= kMaxSites && qsizetype(sites.size()) < count; ++site) {
        if (site > qsizetype(all.size()) || isUnusedSite(all[site - 1]))
            sites.push_back(site);
    }
    return sites;
}

int firstUnusedSite(const std::vector<SiteSettings>& all)
{
    const std::vector<int> sites = unusedSites(all, 1);
    return sites.empty() ? 0 : sites.front();
}

SiteSettingsFile::SiteSettingsFile(QString programFolder)
    : m_programFolder(std::move(programFolder))
{
}

QString SiteSettingsFile::path() const
{
    return dataFile(m_programFolder, QStringLiteral("init.dat"));
}

namespace {

bool fail(QString* error, const QString& path, const QString& reason)
{
    if (error)
        *error = path + QStringLiteral(": ") + reason;
    return false;
}

bool validSite(int site, const QString& path, QString* error)
{
    if (site >= 1 && site <= kMaxSites)
        return true;
    return fail(error, path, QStringLiteral("There is no site %1").arg(site));
}

// Records in content, a trailing partial one included.
qsizetype recordCount(const QByteArray& content)
{
    return (content.size() + kSiteSettingsLength - 1) / kSiteSettingsLength;
}

} // namespace

std::optional<SiteSettings> SiteSettingsFile::load(int site, QString* error) const
{
    const RecordFile file(path(), kSiteSettingsLength);
    if (!validSite(site, file.path(), error))
        return std::nullopt;
    QByteArray record;
    QString reason;
    if (!file.read(site, record, &reason)) {
        fail(error, file.path(), reason);
        return std::nullopt;
    }
    return decodeSiteSettings(record);
}

bool SiteSettingsFile::save(int site, const SiteSettings& settings, QString* error) const
{
    return saveMany({{site, settings}}, error);
}

std::optional<std::vector<SiteSettings>> SiteSettingsFile::loadAll(QString* error) const
{
    const RecordFile file(path(), kSiteSettingsLength);
    QByteArray content;
    QString reason;
    if (!file.readAll(content, &reason)) {
        fail(error, file.path(), reason);
        return std::nullopt;
    }
    // Bytes past the last site are no site's.
    const qsizetype count = qMin(recordCount(content), qsizetype(kMaxSites));
    std::vector<SiteSettings> sites;
    sites.reserve(count);
    for (qsizetype i = 0; i < count; ++i)
        sites.push_back(decodeSiteSettings(QByteArrayView(content).sliced(i * kSiteSettingsLength)));
    return sites;
}

bool SiteSettingsFile::saveMany(const std::vector<std::pair<int, SiteSettings>>& sites, QString* error) const
{
    const RecordFile file(path(), kSiteSettingsLength);
    if (sites.empty())
        return true;
    std::vector<std::pair<int, QByteArray>> records;
    records.reserve(sites.size());
    for (const auto& [site, settings] : sites) {
        if (!validSite(site, file.path(), error))
            return false;
        records.emplace_back(site, encodeSiteSettings(settings));
    }
    QString reason;
    if (!file.replace(records, &reason))
        return fail(error, file.path(), reason);
    return true;
}

bool SiteSettingsFile::remove(int site, QString* error) const
{
    const RecordFile file(path(), kSiteSettingsLength);
    if (!validSite(site, file.path(), error))
        return false;
    QByteArray content;
    QString reason;
    if (!file.readAll(content, &reason))
        return fail(error, file.path(), reason);
    const QByteArray before = content;
    const qsizetype at = qsizetype(site - 1) * kSiteSettingsLength;
    if (at < content.size()) {
        const qsizetype length = qMin(kSiteSettingsLength, content.size() - at);
        content.replace(at, length, QByteArray(length, '\0'));
    }
    qsizetype kept = recordCount(content);
    while (kept > kSiteSlots) {
        const qsizetype last = (kept - 1) * kSiteSettingsLength;
        if (!isUnusedSite(decodeSiteSettings(QByteArrayView(content).sliced(last))))
            break;
        --kept;
    }
    content.truncate(qMin(content.size(), kept * kSiteSettingsLength));
    if (content == before)
        return true;
    if (!file.replaceAll(content, &reason))
        return fail(error, file.path(), reason);
    return true;
}

} // namespace sondrel::store
