#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

namespace sondrel::store {

// One site slot as stored in data/init.dat. Flags are stored Booleans (-1 yes, 0 no); an interval of 0
// means "not set".
struct SiteSettings {
    QString webAddress, packetString;
    qint16 interval = 0;
    QString mainSiteString;
    qint16 connectionType = 0, autoDisconnect = 0, emailNotification = 0, checkMainPage = 0;

    friend bool operator==(const SiteSettings&, const SiteSettings&) = default;
};

// What a fresh window shows, and what a slot shows for an empty packet string or an unset (0) interval.
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
inline constexpr int kSiteSlots = 3;

// Texts are trimmed of surrounding spaces and cut to their 255-byte fields (see encodeStoredText).
QByteArray encodeSiteSettings(const SiteSettings& settings);
// A record shorter than a slot reads as if padded with zero bytes.
SiteSettings decodeSiteSettings(QByteArrayView record);

// The number stored for the interval field's text: a whole number from 0 to 32767 as written; otherwise
// the leading number (leading blanks ignored, a fraction allowed) rounded half away from zero and clamped
// to the 16-bit range; 0 when the text does not start with a number.
qint16 intervalToStore(const QString& intervalText);

// data/init.dat: three slots, each opened, read or written, and closed within one call. Saving replaces
// the whole file at once, so a failed save leaves every slot as it was.
class SiteSettingsFile {
public:
    explicit SiteSettingsFile(QString programFolder);

    QString path() const;

    // A missing file is created empty; a slot past its end loads as all zero bytes.
    // On failure: nullopt and "<path>: <reason>" in error.
    std::optional<SiteSettings> load(int slot, QString* error = nullptr) const;
    bool save(int slot, const SiteSettings& settings, QString* error = nullptr) const;

private:
    QString m_programFolder;
};

} // namespace sondrel::store
