#include "store/ProgramLock.h"

#include "store/Paths.h"

#include <QFile>
#include <QFileInfo>
#include <QSysInfo>

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace sondrel::store {

namespace {

bool sameFile(const struct stat& a, const struct stat& b)
{
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

QByteArray ownerText()
{
    // The process's own name as the system knows it, which is what an earlier version compares with.
    const QString name = QFileInfo(QFile::symLinkTarget(QStringLiteral("/proc/self/exe"))).fileName();
    return QByteArray::number(qint64(::getpid())) + '\n' + name.toUtf8() + '\n' + QSysInfo::machineHostName().toUtf8() +
           '\n' + QSysInfo::machineUniqueId() + '\n';
}

} // namespace

ProgramLock::ProgramLock(const QString& programFolder)
    : m_path(dataFile(programFolder, QStringLiteral("sondrel.lock")))
{
}

ProgramLock::~ProgramLock()
{
    if (m_fd < 0)
        return;
    // Removed while still held, and only if it is still this lock's file, so no later copy loses its own.
    const QByteArray native = QFile::encodeName(m_path);
    struct stat held {};
    struct stat now {};
    if (m_written && ::fstat(m_fd, &held) == 0 && ::lstat(native.constData(), &now) == 0 && sameFile(held, now))
        ::unlink(native.constData());
    ::close(m_fd);
}

ProgramLock::Result ProgramLock::notALockFile(unsigned mode)
{
    const QString what = S_ISLNK(mode)   ? QStringLiteral("a symbolic link")
                         : S_ISDIR(mode) ? QStringLiteral("a folder")
                                         : QStringLiteral("not a regular file");
    m_problem = QStringLiteral("%1 is %2, so it cannot be Sondrel's lock file, and Sondrel does not start. Remove "
                               "it (Sondrel makes the lock file itself), then start Sondrel again.")
                    .arg(m_path, what);
    return Result::NotALockFile;
}

ProgramLock::Result ProgramLock::acquire()
{
    if (m_fd >= 0)
        return Result::Acquired;
    const QByteArray native = QFile::encodeName(m_path);
    // A copy that ends removes its file between another's open and flock now and then: that other copy would hold a
    // removed file, so it opens the path again.
    for (int attempt = 0; attempt < 8; ++attempt) {
        // No link is followed, and nothing blocks: a FIFO in the lock's place must not stall the start.
        constexpr int kFlags = O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK;
        bool writable = true;
        int fd = ::open(native.constData(), O_RDWR | O_CREAT | kFlags, 0644);
        if (fd < 0 && (errno == EACCES || errno == EROFS)) {
            // Another user's lock file, or a read-only folder: a lock is still held on a file opened for reading.
            writable = false;
            fd = ::open(native.constData(), O_RDONLY | kFlags);
        }
        if (fd < 0) {
            struct stat entry {};
            if (::lstat(native.constData(), &entry) == 0 && !S_ISREG(entry.st_mode))
                return notALockFile(entry.st_mode);
            return Result::Unavailable;
        }
        struct stat opened {};
        if (::fstat(fd, &opened) != 0 || !S_ISREG(opened.st_mode)) {
            ::close(fd);
            return notALockFile(opened.st_mode);
        }
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            const int code = errno;
            ::close(fd);
            return code == EWOULDBLOCK ? Result::HeldByAnother : Result::Unavailable;
        }
        struct stat now {};
        if (::lstat(native.constData(), &now) != 0 || !sameFile(opened, now)) {
            ::close(fd);
            continue;
        }
        if (writable) {
            const QByteArray owner = ownerText();
            m_written = ::ftruncate(fd, 0) == 0 && ::pwrite(fd, owner.constData(), owner.size(), 0) == owner.size();
        }
        m_fd = fd;
        return Result::Acquired;
    }
    return Result::Unavailable;
}

} // namespace sondrel::store
