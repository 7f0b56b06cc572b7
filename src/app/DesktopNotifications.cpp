#include "app/DesktopNotifications.h"

#include <QDir>

namespace sondrel::app {

namespace {

// The icon that the installation puts into the desktop's icon theme, named after the program's desktop file.
const QString kIconName = QStringLiteral("io.github.sondrel.Sondrel");

} // namespace

DesktopNotifications::DesktopNotifications(core::Monitor& monitor, platform::DesktopNotifier& notifier,
                                           const QString& programFolder, QObject* parent)
    : QObject(parent)
    , m_monitor(monitor)
    , m_notifier(notifier)
    , m_file(programFolder)
{
    m_on = m_file.notificationsOn();
    connect(&monitor, &core::Monitor::resultLineAdded, this, [this](const QString& line) { m_lastLine = line; });
    connect(&monitor, &core::Monitor::siteChanged, this, &DesktopNotifications::siteChanged);
}

bool DesktopNotifications::setOn(bool on, QString* error)
{
    m_on = on;
    QString reason;
    if (m_file.setNotificationsOn(on, &reason))
        return true;
    if (error) {
        *error = QStringLiteral("The desktop notification choice could not be saved in %1 (%2), so it lasts only "
                                "until Sondrel ends.")
                     .arg(QDir::toNativeSeparators(m_file.path()), reason);
    }
    return false;
}

QString DesktopNotifications::summaryFor(core::SiteChange change, const QString& site)
{
    switch (change) {
    case core::SiteChange::PingFailing:
        return QStringLiteral("%1 is not answering").arg(site);
    case core::SiteChange::PingAnswering:
        return QStringLiteral("%1 is answering again").arg(site);
    case core::SiteChange::PageTextFound:
        return QStringLiteral("%1 shows the main site string again").arg(site);
    case core::SiteChange::PageTextLost:
        return QStringLiteral("%1 no longer shows the main site string").arg(site);
    }
    return site;
}

void DesktopNotifications::siteChanged(core::SiteChange change)
{
    if (!m_on)
        return;
    // The body may be read as markup; a result line is plain text.
    m_notifier.notify(summaryFor(change, m_monitor.settings().webAddress.trimmed()), m_lastLine.toHtmlEscaped(),
                      kIconName);
}

} // namespace sondrel::app
