#include "store/Paths.h"

namespace sondrel::store {

QString programFolderFor(const QString& executableDir)
{
    QString folder = executableDir;
    while (folder.endsWith(u'/'))
        folder.chop(1);
    return folder;
}

QString dataFile(const QString& programFolder, const QString& name)
{
    return programFolder + QStringLiteral("/data/") + name;
}

QString logsFile(const QString& programFolder, const QString& name)
{
    return programFolder + QStringLiteral("/logs/") + name;
}

QString helpFile(const QString& programFolder)
{
    return programFolder + QStringLiteral("/SDR.html");
}

} // namespace sondrel::store
