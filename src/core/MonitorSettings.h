#pragma once

#include "store/AlertSettings.h"
#include "store/LogFiles.h"
#include "store/SiteSettings.h"

#include <QString>

namespace sondrel::core {

class WakeQueue;

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

// How a run is kept: the main window's run of its fields, or the run of a saved site watched beside others.
struct RunOptions {
    int site = 0;                // the saved site it watches; 0: the main window's fields
    store::LogPaths logs;        // where its logs are; empty: the program folder's
    bool waitsForAnswers = true; // false: its messages are told and the run goes on without waiting
    bool retriesOffline = false; // a failed connection check waits for the next check instead of ending the run
    WakeQueue* wakes = nullptr;  // the queue its waits share with other runs; none: a timer of its own

    // The options of saved site `site` watched in the background.
    static RunOptions background(const QString& programFolder, int site)
    {
        return {site, store::LogPaths::ofSite(programFolder, site), false, true};
    }
};

// A stored site slot as the main window shows it once opened: an empty packet string and an unset interval read
// as the defaults.
MonitorSettings monitorSettingsFrom(const store::SiteSettings& stored);

} // namespace sondrel::core
