#pragma once

#include <QString>

namespace sondrel::store {

// The program folder as every path is built from it: the executable's folder without trailing "/";
// the root folder gives the empty text, so its files are "/data/..." and "/logs/...".
QString programFolderFor(const QString& executableDir);

// programFolder + "/data/" + name and programFolder + "/logs/" + name.
QString dataFile(const QString& programFolder, const QString& name);
QString logsFile(const QString& programFolder, const QString& name);

// The help page installed beside the executable.
QString helpFile(const QString& programFolder);

} // namespace sondrel::store
