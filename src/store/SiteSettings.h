#pragma once

#include <QByteArray>
#include <QString>

#include <optional>
#include <utility>
#include <vector>

namespace sondrel::store {

// One site as stored in data/init.dat. Flags are stored Booleans (-1 yes, 0 no); an interval of 0
// means "not set".
struct SiteSettings {
    QString webAddress, packetString;
    qint16 interval = 0;
    QString mainSiteString;
    qint16 connectionType = 0, autoDisconnect = 0, emailNotification = 0, checkMainPage = 0;

    friend bool operator==(const SiteSettings&, const SiteSettings&) = default;
};

// What a fresh window shows, and what a site shows for an empty packet string or an unset (0) interval.
inline QString defaultPacketString()
{
    return QStringLiteral("Packet");
}
inline constexpr int kDefaultIntervalSeconds = 300;

inline QString packetStringOrDefault(const SiteSettings& settings)
{
    return settings.packetString.isEmpty() ? defaultPacketString() : settings.packetString;
}
inline int intervalSecondsOrDefault(const SiteSettings& settings)
{
    return settings.interval != 0 ? settings.interval : kDefaultIntervalSeconds;
}

inline constexpr qsizetype kSiteSettingsLength = 775;
inline constexpr qsizetype kSiteTextWidth = 255;
// The Site menu opens sites 1 to 3; the file holds sites 1 to kMaxSites.
inline constexpr int kSiteSlots = 3;
inline constexpr int kMaxSites = 32767;

// A site without a web address is unused: it is not listed, and Add or Import may take its number.
inline bool isUnusedSite(const SiteSettings& settings)
{
    return settings.webAddress.trimmed().isEmpty();
}

// The lowest count site numbers (1 to kMaxSites) whose record in all (element i is site i + 1) is unused or lies
// past its end, in ascending order; fewer when the file has no more room.
std::vector<int> unusedSites(const std::vector<SiteSettings>& all, qsizetype count);
// The lowest such number, or 0 when every site is in use.
int firstUnusedSite(const std::vector<SiteSettings>& all);

// Texts are trimmed of surrounding spaces and cut to their 255-byte fields (see encodeStoredText).
QByteArray encodeSiteSettings(const SiteSettings& settings);
// A record shorter than 775 bytes reads as if padded with zero bytes.
SiteSettings decodeSiteSettings(QByteArrayView record);

// The number stored for the interval field's text: a whole number from 0 to 32767 as written; otherwise
// the leading number (leading blanks ignored, a fraction allowed) rounded half away from zero and clamped
// to the 16-bit range; 0 when the text does not start with a number.
qint16 intervalToStore(const QString& intervalText);

// data/init.dat: site n's record at (n - 1) * 775, each opened, read or written, and closed within one call. Every
// change replaces the whole file at once, so a failed save leaves every site as it was.
class SiteSettingsFile {
public:
    explicit SiteSettingsFile(QString programFolder);

    QString path() const;

    // Site 1 to kMaxSites. A missing file is created empty; a site past its end loads as all zero bytes.
    // On failure: nullopt and "<path>: <reason>" in error.
    std::optional<SiteSettings> load(int site, QString* error = nullptr) const;
    // A site past the end extends the file with zero bytes; the records before it keep their bytes.
    bool save(int site, const SiteSettings& settings, QString* error = nullptr) const;

    // Every record in one read: element i is site i + 1, a trailing partial record reads as if padded with zero
    // bytes. A missing file is created empty and gives no sites.
    std::optional<std::vector<SiteSettings>> loadAll(QString* error = nullptr) const;
    // Saves every (site, settings) as save does, in one replacement of the whole file: all of them or none.
    bool saveMany(const std::vector<std::pair<int, SiteSettings>>& sites, QString* error = nullptr) const;
    // The site's record becomes zero bytes (an unused site). Unused records at the end of the file are then cut off,
    // so that it does not keep growing, though never records 1 to kSiteSlots.
    bool remove(int site, QString* error = nullptr) const;

private:
    QString m_programFolder;
};

} // namespace sondrel::store
