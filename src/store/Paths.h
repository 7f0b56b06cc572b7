#pragma once

#include <QString>

namespace sondrel::store {

// The program folder as every path is built from it: the executable's folder without trailing "/";
// the root folder gives the empty text, so its files are "/data/..." and "/logs/...".
QString programFolderFor(const QString& executableDir);

// The user's data home: xdgDataHome when it is an absolute path, otherwise homeDir + "/.local/share" (a relative
// XDG_DATA_HOME is invalid and ignored, as the XDG base directory rules say).
QString dataHomeFor(const QString& xdgDataHome, const QString& homeDir);

// Where data/ and logs/ live. A copy whose own folder (or the data/ folder beside it) the user may write to is a
// portable installation and keeps its files beside the executable, exactly as a build does. A copy installed where
// the user may not write (/usr/bin) keeps them in the user's data home, in sondrel/.
QString chooseProgramFolder(const QString& executableDir, bool folderWritable, bool dataFolderWritable,
                            const QString& xdgDataHome, const QString& homeDir);

// chooseProgramFolder for this process: the folders are tested with access(W_OK), XDG_DATA_HOME and HOME come from
// the environment. When the data home is chosen, sondrel/ and its data/ and logs/ are made if missing (mode 0700,
// with any missing folder above them); a missing data/ beside a portable copy is left to be reported as usual.
// The window, the windowless run and the program lock all take their folder from here, so they always agree.
QString openProgramFolder(const QString& executableDir);

// programFolder + "/data/" + name and programFolder + "/logs/" + name.
QString dataFile(const QString& programFolder, const QString& name);
QString logsFile(const QString& programFolder, const QString& name);

// The help page: beside the program folder's files when it is there (the portable layout), otherwise where an
// installation puts it, share/sondrel/ beside the executable's bin/; when neither exists, the path in the program
// folder, so that the missing page is reported there.
QString helpFileFor(const QString& programFolder, const QString& executableDir);

// helpFileFor with the running executable's folder (none before the application object exists).
QString helpFile(const QString& programFolder);

} // namespace sondrel::store
