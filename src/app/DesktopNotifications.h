#pragma once

#include "core/Monitor.h"
#include "core/MonitorHub.h"
#include "platform/DesktopNotifier.h"
#include "store/DesktopSettingsFile.h"

#include <QObject>
#include <QString>

namespace sondrel::app {

// Pops up a desktop notification for every change of a site's state that the notification decision acts on,
// whether or not it is e-mailed, while the user has them turned on: the window's own run and every background run
// of the hub, each naming its site. The choice is kept in data/desktop.ini; without that file they are off.
class DesktopNotifications final : public QObject {
    Q_OBJECT
public:
    DesktopNotifications(core::Monitor& windowRun, core::MonitorHub& hub, platform::DesktopNotifier& notifier,
                         const QString& programFolder, QObject* parent = nullptr);

    bool isOn() const { return m_on; }
    // Turns them on or off from now on and stores the choice; false with the reason when it could not be stored.
    bool setOn(bool on, QString* error);

    // What a notification says: the summary names the site and its new state, the body is the check's result line.
    static QString summaryFor(core::SiteChange change, const QString& site);

private:
    void observe(core::Monitor& run);
    void siteChanged(const core::Monitor& run, core::SiteChange change);

    platform::DesktopNotifier& m_notifier;
    store::DesktopSettingsFile m_file;
    // The latest result line and its run: a run tells the line of a check just before the change it brings.
    const core::Monitor* m_lastLineRun = nullptr;
    QString m_lastLine;
    bool m_on = false;
};

} // namespace sondrel::app
