#include "app/DesktopNotifications.h"

#include <QDir>

namespace sondrel::app {

namespace {

// The icon that the installation puts into the desktop's icon theme, named after the program's desktop file.
const QString kIconName = QStringLiteral("io.github.sondrel.Sondrel");

} // namespace

DesktopNotifications::DesktopNotifications(core::Monitor& windowRun, core::MonitorHub& hub,
                                           platform::DesktopNotifier& notifier, const QString& programFolder,
                                           QObject* parent)
    : QObject(parent)
    , m_notifier(notifier)
    , m_file(programFolder)
{
    m_on = m_file.notificationsOn();
    observe(windowRun);
    connect(&hub, &core::MonitorHub::siteRunCreated, this, [this](int, core::Monitor* run) { observe(*run); });
}

void DesktopNotifications::observe(core::Monitor& run)
{
    const core::Monitor* source = &run;
    connect(&run, &core::Monitor::resultLineAdded, this, [this, source](const QString& line) {
        m_lastLineRun = source;
        m_lastLine = line;
    });
    connect(&run, &core::Monitor::siteChanged, this,
            [this, source](core::SiteChange change) { siteChanged(*source, change); });
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

void DesktopNotifications::siteChanged(const core::Monitor& run, core::SiteChange change)
{
    if (!m_on)
        return;
    const QString line = m_lastLineRun == &run ? m_lastLine : QString();
    // The body may be read as markup; a result line is plain text.
    m_notifier.notify(summaryFor(change, run.settings().webAddress.trimmed()), line.toHtmlEscaped(), kIconName);
}

} // namespace sondrel::app
