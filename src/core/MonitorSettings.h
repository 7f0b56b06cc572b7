#pragma once

#include "store/AlertSettings.h"

#include <QString>

namespace sondrel::store {
struct SiteSettings;
}

namespace sondrel::core {

// The settings of the monitored site as the user has them: texts as typed, untrimmed.
struct MonitorSettings {
    QString webAddress;
    QString packetString = QStringLiteral("Packet");
    double intervalSeconds = 300;
    QString mainSiteString;
    bool alwaysOn = false;      // connection type "Always On" rather than "Modem"
    bool autoDisconnect = true; // hang up after each check
    bool checkMainPage = false;
    bool emailNotification = false;
    store::AlertSettings alerts; // the slot's alert settings; the defaults alert as the decision always has
};

// A stored site slot as the main window shows it once opened: an empty packet string reads "Packet" and an
// unset interval 300 seconds.
MonitorSettings monitorSettingsFrom(const store::SiteSettings& stored);

} // namespace sondrel::core
