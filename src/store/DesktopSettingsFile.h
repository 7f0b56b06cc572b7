#pragma once

#include <QString>

namespace sondrel::store {

// data/desktop.ini: whether desktop notifications are on, as the INI line "notifications=true" in group
// [Desktop]. Without the file, or without that line, they are off.
class DesktopSettingsFile {
public:
    explicit DesktopSettingsFile(const QString& programFolder);

    const QString& path() const { return m_path; }

    bool notificationsOn() const;
    // Replaces the file whole; false with the system's reason.
    bool setNotificationsOn(bool on, QString* error = nullptr) const;

private:
    QString m_path;
};

} // namespace sondrel::store
