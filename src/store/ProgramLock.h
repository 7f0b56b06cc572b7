#pragma once

#include <QLockFile>
#include <QString>

namespace sondrel::store {

// One copy of the program per program folder: two copies would write the same numbered log, counter and
// record file. The lock is a file in data/ holding the owner's process id; a lock left behind by a copy that
// crashed is taken over.
class ProgramLock {
public:
    explicit ProgramLock(const QString& programFolder);

    enum class Result {
        Acquired,
        HeldByAnother, // another copy runs from this folder
        Unavailable,   // no lock file can be made there (no data/ folder, no write access): nothing to guard
    };
    Result acquire();

    QString path() const { return m_path; }

private:
    QString m_path;
    QLockFile m_lock;
};

} // namespace sondrel::store
