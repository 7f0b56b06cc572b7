#pragma once

#include <QString>

namespace sondrel::platform {

// The desktop's own handling of documents.
class DesktopShell {
public:
    virtual ~DesktopShell() = default;
    enum class OpenResult { Opened, NotFound, Failed };
    // Opens the document at path with the desktop's default viewer for its kind.
    virtual OpenResult openDocument(const QString& path) = 0;
};

} // namespace sondrel::platform
