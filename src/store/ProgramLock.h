#pragma once

#include <QString>

namespace sondrel::store {

// One copy of the program per program folder: two copies would write the same numbered log, counter and
// record file. The lock is data/sondrel.lock, held with flock(2) for as long as the copy runs, so the system
// lets go of it when the copy ends in any way, a crash or a kill included. Whatever a lock file holds, a lock
// that no living process holds is taken over: an empty or damaged file, one left by a copy that was killed, or
// one naming another host. The file holds the owner's process id, host name and machine id in the layout
// earlier versions wrote (QLockFile's), so an earlier version started on the same folder finds it alive.
class ProgramLock {
public:
    explicit ProgramLock(const QString& programFolder);
    ~ProgramLock();
    ProgramLock(const ProgramLock&) = delete;
    ProgramLock& operator=(const ProgramLock&) = delete;

    enum class Result {
        Acquired,
        HeldByAnother, // another copy runs from this folder
        NotALockFile,  // a link, a folder or another kind of file stands at the lock's path: see problem()
        Unavailable,   // no lock file can be made there (no data/ folder, no write access): nothing to guard
    };
    Result acquire();

    QString path() const { return m_path; }
    // With NotALockFile: what stands at the path and what to do about it.
    QString problem() const { return m_problem; }

private:
    Result notALockFile(unsigned mode);

    QString m_path;
    QString m_problem;
    int m_fd = -1;
    bool m_written = false; // the file holds this copy's id, and goes when the lock does
};

} // namespace sondrel::store
