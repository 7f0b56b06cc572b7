#pragma once

#include "store/AlertSettings.h"

#include <QByteArray>
#include <QString>

#include <map>
#include <optional>

namespace sondrel::store {

// The whole numbers an alert setting may hold, both ends included.
struct AlertLimit {
    int min;
    int max;
    bool holds(int value) const { return value >= min && value <= max; }
};
inline constexpr AlertLimit kFailuresLimit{1, 100};
inline constexpr AlertLimit kSuccessesLimit{1, 100};
inline constexpr AlertLimit kRemindLimit{0, 10080};
inline constexpr AlertLimit kSlowLimit{0, 600000};
inline constexpr AlertLimit kCertificateDaysLimit{0, 365};

// Alert settings by site number; a site not in the map has the defaults.
using AlertSettingsBySite = std::map<int, AlertSettings>;

// data/alerts.ini: the alert settings of every site, one group each ([Site1], [Site2], ...) of name=value lines,
// readable as an INI file. It sits beside data/init.dat and leaves that file alone. A missing file, group or line
// reads as the default; so does a value that is not a whole number in its range.
class AlertSettingsFile {
public:
    explicit AlertSettingsFile(const QString& programFolder);

    const QString& path() const { return m_path; }

    // Site 1 to kMaxSites; defaults for anything that cannot be read.
    AlertSettings load(int site) const;
    // Replaces the site's settings, keeping the other sites; the file is replaced whole, so a failed write
    // leaves the earlier file. False with the reason.
    bool save(int site, const AlertSettings& settings, QString* error = nullptr) const;
    // Drops the site's settings, so that it has the defaults again; replaces the file whole, as save does.
    bool remove(int site, QString* error = nullptr) const;

    // Every [SiteN] group of the text with N from 1 to kMaxSites.
    static AlertSettingsBySite parse(const QByteArray& text);
    // Groups [Site1] to [Site3] always, in that order; after them, in ascending order, every other site whose
    // settings differ from the defaults.
    static QByteArray compose(const AlertSettingsBySite& sites);

private:
    // Writes settings for the site, or drops its settings when there are none.
    bool change(int site, const std::optional<AlertSettings>& settings, QString* error) const;

    QString m_path;
};

} // namespace sondrel::store
