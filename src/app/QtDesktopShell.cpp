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

bool QtDesktopShell::openUrl(const QUrl& url)
{
    return QDesktopServices::openUrl(url);
}

} // namespace sondrel::app
