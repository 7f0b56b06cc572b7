#pragma once

#include <QString>

namespace sondrel::platform {

enum class MessageIcon { None, Information, Exclamation };

// Modal message boxes with a single OK button.
class MessageBoxes {
public:
    virtual ~MessageBoxes() = default;
    // Returns when the user has closed the box.
    virtual void show(const QString& text, const QString& title, MessageIcon icon = MessageIcon::None) = 0;
    // A question with Yes and No, No being the default; true when the user answered Yes. Where nobody can
    // answer, the question is shown and declined.
    virtual bool ask(const QString& text, const QString& title, MessageIcon icon = MessageIcon::None)
    {
        show(text, title, icon);
        return false;
    }
};

// The title every box of the program carries unless it names its own.
inline const QString& applicationTitle()
{
    static const QString title = QStringLiteral("Sondrel");
    return title;
}

} // namespace sondrel::platform
