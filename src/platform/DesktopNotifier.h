#pragma once

#include <QString>

namespace sondrel::platform {

// Pop-up notifications of the user's desktop. notify() returns at once and never tells the user anything
// itself: a desktop without a notification service simply shows nothing.
class DesktopNotifier {
public:
    virtual ~DesktopNotifier() = default;
    // summary is plain text; body may be shown with simple markup, so the caller escapes it. iconName is a
    // name from the icon theme.
    virtual void notify(const QString& summary, const QString& body, const QString& iconName) = 0;

    // A desktop without notifications, for users of Services that bring none.
    static DesktopNotifier& none()
    {
        static class : public DesktopNotifier {
            void notify(const QString&, const QString&, const QString&) override {}
        } silent;
        return silent;
    }
};

} // namespace sondrel::platform
