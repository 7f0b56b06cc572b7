#include "store/Paths.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

// The installed help page's folder relative to the installed executable's; the build sets it from its install
// layout.
#ifndef SONDREL_HELP_FROM_BINDIR
#define SONDREL_HELP_FROM_BINDIR "../share/sondrel"
#endif

namespace sondrel::store {

namespace {

bool writableFolder(const QString& path)
{
    return ::access(QFile::encodeName(path.isEmpty() ? QStringLiteral("/") : path).constData(), W_OK | X_OK) == 0;
}

QString homeFolder()
{
    QString home = qEnvironmentVariable("HOME");
    if (home.isEmpty()) {
        if (const passwd* entry = ::getpwuid(::getuid()))
            home = QFile::decodeName(entry->pw_dir);
    }
    return home;
}

// Makes path and every missing folder above it, each readable by its owner only.
void makeOwnFolders(const QString& path)
{
    const QByteArray native = QFile::encodeName(path);
    for (qsizetype end = 1; end <= native.size(); ++end) {
        if (end < native.size() && native[end] != '/')
            continue;
        const QByteArray folder = native.left(end);
        struct stat status {};
        if (::stat(folder.constData(), &status) != 0 && ::mkdir(folder.constData(), 0700) != 0)
            return; // what cannot be made is reported when a file in it cannot be written
    }
}

} // namespace

QString programFolderFor(const QString& executableDir)
{
    QString folder = executableDir;
    while (folder.endsWith(u'/'))
        folder.chop(1);
    return folder;
}

QString dataHomeFor(const QString& xdgDataHome, const QString& homeDir)
{
    if (xdgDataHome.startsWith(u'/'))
        return programFolderFor(xdgDataHome);
    return programFolderFor(homeDir) + QStringLiteral("/.local/share");
}

QString chooseProgramFolder(const QString& executableDir, bool folderWritable, bool dataFolderWritable,
                            const QString& xdgDataHome, const QString& homeDir)
{
    if (folderWritable || dataFolderWritable)
        return programFolderFor(executableDir);
    return dataHomeFor(xdgDataHome, homeDir) + QStringLiteral("/sondrel");
}

QString openProgramFolder(const QString& executableDir)
{
    const QString portable = programFolderFor(executableDir);
    const QString folder =
        chooseProgramFolder(executableDir, writableFolder(portable), writableFolder(portable + QStringLiteral("/data")),
                            qEnvironmentVariable("XDG_DATA_HOME"), homeFolder());
    if (folder != portable) {
        makeOwnFolders(folder + QStringLiteral("/data"));
        makeOwnFolders(folder + QStringLiteral("/logs"));
    }
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

QString helpFileFor(const QString& programFolder, const QString& executableDir)
{
    const QString beside = programFolder + QStringLiteral("/SDR.html");
    if (QFileInfo::exists(beside) || executableDir.isEmpty())
        return beside;
    const QString installed =
        QDir::cleanPath(programFolderFor(executableDir) + QStringLiteral("/" SONDREL_HELP_FROM_BINDIR "/SDR.html"));
    return QFileInfo::exists(installed) ? installed : beside;
}

QString helpFile(const QString& programFolder)
{
    return helpFileFor(programFolder,
                       QCoreApplication::instance() ? QCoreApplication::applicationDirPath() : QString());
}

} // namespace sondrel::store
