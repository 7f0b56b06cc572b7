#pragma once

#include "core/Monitor.h"
#include "platform/DesktopNotifier.h"
#include "store/DesktopSettingsFile.h"

#include <QObject>
#include <QString>

namespace sondrel::app {

// Pops up a desktop notification for every change of the site's state that the notification decision acts on,
// whether or not it is e-mailed, while the user has them turned on. The choice is kept in data/desktop.ini;
// without that file they are off.
class DesktopNotifications final : public QObject {
    Q_OBJECT
public:
    DesktopNotifications(core::Monitor& monitor, platform::DesktopNotifier& notifier, const QString& programFolder,
                         QObject* parent = nullptr);

    bool isOn() const { return m_on; }
    // Turns them on or off from now on and stores the choice; false with the reason when it could not be stored.
    bool setOn(bool on, QString* error);

    // What a notification says: the summary names the site and its new state, the body is the check's result line.
    static QString summaryFor(core::SiteChange change, const QString& site);

private:
    void siteChanged(core::SiteChange change);

    core::Monitor& m_monitor;
    platform::DesktopNotifier& m_notifier;
    store::DesktopSettingsFile m_file;
    QString m_lastLine;
    bool m_on = false;
};

} // namespace sondrel::app
