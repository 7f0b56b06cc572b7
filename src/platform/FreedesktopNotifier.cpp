#include "platform/FreedesktopNotifier.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QVariantMap>

namespace sondrel::platform {

namespace {

// A notification service that has not answered by then never will; the pending call is dropped.
constexpr int kReplyTimeoutMs = 10'000;

} // namespace

void FreedesktopNotifier::notify(const QString& summary, const QString& body, const QString& iconName)
{
    // Qt joins the bus on the first call and keeps the connection; without a bus it stays unconnected.
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return;

    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("/org/freedesktop/Notifications"),
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("Notify"));
    const QVariantMap hints{{QStringLiteral("urgency"), QVariant::fromValue(uchar(1))}};
    call << QStringLiteral("Sondrel") << uint(0) << iconName << summary << body << QStringList() << hints << int(-1);
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call, kReplyTimeoutMs), &m_calls);
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, watcher, &QObject::deleteLater);
}

} // namespace sondrel::platform
