#pragma once

#include "platform/MessageBoxes.h"

namespace sondrel::app {

class SystemMessageBoxes final : public platform::MessageBoxes {
public:
    void show(const QString& text, const QString& title, platform::MessageIcon icon) override;
    bool ask(const QString& text, const QString& title, platform::MessageIcon icon) override;
};

} // namespace sondrel::app
