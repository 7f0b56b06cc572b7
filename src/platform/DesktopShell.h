#pragma once

#include <QString>
#include <QUrl>

namespace sondrel::platform {

// The desktop's own handling of documents.
class DesktopShell {
public:
    virtual ~DesktopShell() = default;
    enum class OpenResult { Opened, NotFound, Failed };
    // Opens the document at path with the desktop's default viewer for its kind.
    virtual OpenResult openDocument(const QString& path) = 0;
    // Opens a web page in the desktop's browser; false when there is none to open it.
    virtual bool openUrl(const QUrl&) { return false; }
};

} // namespace sondrel::platform
