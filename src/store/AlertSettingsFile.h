#pragma once

#include "store/AlertSettings.h"

#include <QByteArray>
#include <QString>

#include <array>

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

// data/alerts.ini: the alert settings of the three site sites, one group each ([Site1] to [Site3]) of
// name=value lines, readable as an INI file. It sits beside data/init.dat and leaves that file alone. A missing
// file, group or line reads as the default; so does a value that is not a whole number in its range.
class AlertSettingsFile {
public:
    explicit AlertSettingsFile(const QString& programFolder);

    const QString& path() const { return m_path; }

    // Slot site (1 to 3); defaults for anything that cannot be read.
    AlertSettings load(int site) const;
    // Replaces the slot's settings, keeping the other sites; the file is replaced whole, so a failed write
    // leaves the earlier file. False with the reason.
    bool save(int site, const AlertSettings& settings, QString* error = nullptr) const;

    static std::array<AlertSettings, 3> parse(const QByteArray& text);
    static QByteArray compose(const std::array<AlertSettings, 3>& sites);

private:
    QString m_path;
};

} // namespace sondrel::store
