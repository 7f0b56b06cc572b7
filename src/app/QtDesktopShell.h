#pragma once

#include "platform/DesktopShell.h"

namespace sondrel::app {

class QtDesktopShell final : public platform::DesktopShell {
public:
    OpenResult openDocument(const QString& path) override;
    bool openUrl(const QUrl& url) override;
};

} // namespace sondrel::app
