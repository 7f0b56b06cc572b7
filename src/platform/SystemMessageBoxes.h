#pragma once

#include "platform/MessageBoxes.h"

namespace sondrel::platform {

class SystemMessageBoxes final : public MessageBoxes {
public:
    void show(const QString& text, const QString& title, MessageIcon icon) override;
};

} // namespace sondrel::platform
