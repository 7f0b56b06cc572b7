#pragma once

#include "store/AlertSettings.h"
#include "store/SiteSettings.h"

#include <QString>

namespace sondrel::core {

// The settings of the monitored site as the user has them: texts as typed, untrimmed.
struct MonitorSettings {
    QString webAddress;
    QString packetString = store::defaultPacketString();
    double intervalSeconds = store::kDefaultIntervalSeconds;
    QString mainSiteString;
    bool alwaysOn = false;      // connection type "Always On" rather than "Modem"
    bool autoDisconnect = true; // hang up after each check
    bool checkMainPage = false;
    bool emailNotification = false;
    store::AlertSettings alerts; // the slot's alert settings; the defaults alert as the decision always has
};

// A stored site slot as the main window shows it once opened: an empty packet string and an unset interval read
// as the defaults.
MonitorSettings monitorSettingsFrom(const store::SiteSettings& stored);

} // namespace sondrel::core
