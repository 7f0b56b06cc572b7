#include "store/HelpCommand.h"

#include "store/Paths.h"

namespace sondrel::store {

void openHelp(platform::DesktopShell& shell, platform::MessageBoxes& messages, const QString& programFolder)
{
    if (shell.openDocument(helpFile(programFolder)) == platform::DesktopShell::OpenResult::NotFound)
        messages.show(QStringLiteral("Cannot find Help file in the installation directory"),
                      platform::applicationTitle());
}

} // namespace sondrel::store
