#include "store/ProgramLock.h"

#include "store/Paths.h"

namespace sondrel::store {

ProgramLock::ProgramLock(const QString& programFolder)
    : m_path(dataFile(programFolder, QStringLiteral("sondrel.lock")))
    , m_lock(m_path)
{
    // Only a dead owner makes a lock stale, however long a run has held it.
    m_lock.setStaleLockTime(0);
}

ProgramLock::Result ProgramLock::acquire()
{
    if (m_lock.tryLock(0))
        return Result::Acquired;
    return m_lock.error() == QLockFile::LockFailedError ? Result::HeldByAnother : Result::Unavailable;
}

} // namespace sondrel::store
