#include "store/DesktopSettingsFile.h"

#include "platform/WholeFile.h"
#include "store/Paths.h"
#include "store/SettingsText.h"

#include <QList>

namespace sondrel::store {

DesktopSettingsFile::DesktopSettingsFile(const QString& programFolder)
    : m_path(dataFile(programFolder, QStringLiteral("desktop.ini")))
{
}

bool DesktopSettingsFile::notificationsOn() const
{
    QByteArray text;
    if (!readSettingsText(m_path, text))
        return false;
    bool inGroup = false;
    bool on = false;
    for (QByteArray line : text.split('\n')) {
        line = line.trimmed();
        if (line.startsWith('[')) {
            inGroup = line == "[Desktop]";
            continue;
        }
        const qsizetype equals = line.indexOf('=');
        if (inGroup && equals > 0 && line.first(equals).trimmed() == "notifications") {
            const QByteArray value = line.sliced(equals + 1).trimmed().toLower();
            on = value == "true" || value == "1";
        }
    }
    return on;
}

bool DesktopSettingsFile::setNotificationsOn(bool on, QString* error) const
{
    return platform::replaceWholeFile(m_path, QByteArray("[Desktop]\nnotifications=") + (on ? "true" : "false") + '\n',
                                      error);
}

} // namespace sondrel::store
