#pragma once

#include "platform/DesktopShell.h"

namespace sondrel::platform {

class QtDesktopShell final : public DesktopShell {
public:
    OpenResult openDocument(const QString& path) override;
};

} // namespace sondrel::platform
