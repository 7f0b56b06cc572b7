#include "app/QtDesktopShell.h"

#include <QDesktopServices>
#include <QFileInfo>
#include <QUrl>

namespace sondrel::app {

platform::DesktopShell::OpenResult QtDesktopShell::openDocument(const QString& path)
{
    if (!QFileInfo(path).isFile())
        return OpenResult::NotFound;
    return QDesktopServices::openUrl(QUrl::fromLocalFile(path)) ? OpenResult::Opened : OpenResult::Failed;
}

} // namespace sondrel::app
