#pragma once

#include <QDir>
#include <QTemporaryDir>

#include <memory>

namespace sondrel::test {

// A program folder as a fresh build lays it out: empty data/ and logs/ folders.
inline std::unique_ptr<QTemporaryDir> newProgramFolder()
{
    auto dir = std::make_unique<QTemporaryDir>();
    if (dir->isValid()) {
        QDir(dir->path()).mkpath(QStringLiteral("data"));
        QDir(dir->path()).mkpath(QStringLiteral("logs"));
    }
    return dir;
}

} // namespace sondrel::test
