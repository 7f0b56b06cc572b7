#pragma once

#include "platform/DesktopNotifier.h"

#include <QObject>

namespace sondrel::platform {

// Sends org.freedesktop.Notifications.Notify over the session bus as "Sondrel". The call is asynchronous and
// its reply, or its error when no service owns the name, is dropped; a service that D-Bus can start is started
// by the bus meanwhile. The bus is joined at the first notification, so a program that never notifies never
// touches it.
class FreedesktopNotifier final : public DesktopNotifier {
public:
    void notify(const QString& summary, const QString& body, const QString& iconName) override;

private:
    QObject m_calls; // the pending calls, dropped with the notifier
};

} // namespace sondrel::platform
