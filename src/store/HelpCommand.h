#pragma once

#include "platform/DesktopShell.h"
#include "platform/MessageBoxes.h"

#include <QString>

namespace sondrel::store {

// Opens the help page in the program folder with the desktop's viewer. Only a missing page is reported
// ("Cannot find Help file in the installation directory"); other failures pass silently. The viewer is
// not tracked: every call opens the page again.
void openHelp(platform::DesktopShell& shell, platform::MessageBoxes& messages, const QString& programFolder);

} // namespace sondrel::store
