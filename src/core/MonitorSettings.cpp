#include "core/MonitorSettings.h"

#include "store/FixedText.h"
#include "store/SiteSettings.h"

namespace sondrel::core {

MonitorSettings monitorSettingsFrom(const store::SiteSettings& stored)
{
    MonitorSettings settings;
    settings.webAddress = stored.webAddress;
    settings.packetString = store::packetStringOrDefault(stored);
    settings.intervalSeconds = store::intervalSecondsOrDefault(stored);
    settings.mainSiteString = stored.mainSiteString;
    settings.alwaysOn = store::isTrue(stored.connectionType);
    settings.autoDisconnect = store::isTrue(stored.autoDisconnect);
    settings.checkMainPage = store::isTrue(stored.checkMainPage);
    settings.emailNotification = store::isTrue(stored.emailNotification);
    return settings;
}

} // namespace sondrel::core
