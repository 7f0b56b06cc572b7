#include "platform/QtDesktopShell.h"

#include <QDesktopServices>
#include <QFileInfo>
#include <QUrl>

namespace sondrel::platform {

DesktopShell::OpenResult QtDesktopShell::openDocument(const QString& path)
{
    if (!QFileInfo(path).isFile())
        return OpenResult::NotFound;
    return QDesktopServices::openUrl(QUrl::fromLocalFile(path)) ? OpenResult::Opened : OpenResult::Failed;
}

} // namespace sondrel::platform
