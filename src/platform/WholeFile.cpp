#include "platform/WholeFile.h"

#include <QRandomGenerator>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace sondrel::platform {

namespace {

bool fail(QString* error, const QString& reason)
{
    if (error)
        *error = reason;
    return false;
}

QString systemReason(int code)
{
    return QString::fromLocal8Bit(std::strerror(code));
}

// Why a path whose entry has this mode is not written, or nothing when it is a regular file.
QString refusal(mode_t mode)
{
    if (S_ISREG(mode))
        return {};
    if (S_ISLNK(mode))
        return QStringLiteral("it is a symbolic link, and Sondrel writes no file through one; put the file itself "
                              "in its place");
    if (S_ISDIR(mode))
        return QStringLiteral("it is a folder; remove it or put the file in its place");
    return QStringLiteral("it is not a regular file; remove it or put the file in its place");
}

// The reason for an open(2) of path that failed with code: O_NOFOLLOW fails with ELOOP on a link.
QString openFailure(const QByteArray& path, int code)
{
    struct stat entry {};
    if ((code == ELOOP || code == EISDIR || code == EEXIST) && ::lstat(path.constData(), &entry) == 0 &&
        !S_ISREG(entry.st_mode))
        return refusal(entry.st_mode);
    return systemReason(code);
}

mode_t modeOf(QFileDevice::Permissions permissions)
{
    mode_t mode = 0;
    const std::pair<QFileDevice::Permissions, mode_t> bits[] = {
        {QFileDevice::ReadOwner | QFileDevice::ReadUser, S_IRUSR},
        {QFileDevice::WriteOwner | QFileDevice::WriteUser, S_IWUSR},
        {QFileDevice::ExeOwner | QFileDevice::ExeUser, S_IXUSR},
        {QFileDevice::ReadGroup, S_IRGRP},
        {QFileDevice::WriteGroup, S_IWGRP},
        {QFileDevice::ExeGroup, S_IXGRP},
        {QFileDevice::ReadOther, S_IROTH},
        {QFileDevice::WriteOther, S_IWOTH},
        {QFileDevice::ExeOther, S_IXOTH},
    };
    for (const auto& [permission, bit] : bits) {
        if (permissions & permission)
            mode |= bit;
    }
    return mode;
}

// Writes every byte, retrying after a short write so that the failing call reports the system's reason (a full
// disk ends the first call early without an error). Zero, or the error code.
int writeFully(int fd, QByteArrayView bytes)
{
    while (!bytes.isEmpty()) {
        const ssize_t written = ::write(fd, bytes.data(), size_t(bytes.size()));
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return written < 0 ? errno : EIO;
        bytes = bytes.sliced(written);
    }
    return 0;
}

} // namespace

bool readWholeFile(const QString& path, QByteArray& content, QString* error)
{
    content.clear();
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        if (file.error() == QFileDevice::OpenError && !QFile::exists(path))
            return true;
        return fail(error, file.errorString());
    }
    content = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return fail(error, file.errorString());
    return true;
}

bool replaceWholeFile(const QString& path, QByteArrayView content, QString* error,
                      std::optional<QFileDevice::Permissions> permissions)
{
    const QByteArray target = QFile::encodeName(path);
    struct stat existing {};
    const bool exists = ::lstat(target.constData(), &existing) == 0;
    if (exists && !S_ISREG(existing.st_mode))
        return fail(error, refusal(existing.st_mode));

    // The new file is made here, never through a link, and the rename puts it in place of whatever entry then
    // stands at the path: a link that appeared meanwhile is replaced, not followed.
    QByteArray temporary;
    int fd = -1;
    for (int attempt = 0; fd < 0 && attempt < 16; ++attempt) {
        temporary = target + '.' + QByteArray::number(QRandomGenerator::global()->generate64(), 36);
        fd = ::open(temporary.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST)
            return fail(error, systemReason(errno));
    }
    if (fd < 0)
        return fail(error, systemReason(EEXIST));
    const auto abandon = [&](int code) {
        if (fd >= 0)
            ::close(fd);
        ::unlink(temporary.constData());
        return fail(error, systemReason(code));
    };
    // A new file has the default mode and a rewritten one the old file's mode; a file that must stay private
    // gets its mode before it holds anything.
    if (permissions || exists) {
        const mode_t mode = permissions ? modeOf(*permissions) : existing.st_mode & 0777;
        if (::fchmod(fd, mode) != 0)
            return abandon(errno);
    }
    if (const int code = writeFully(fd, content))
        return abandon(code);
    if (::fsync(fd) != 0 && errno != EINVAL && errno != EROFS)
        return abandon(errno);
    const int closed = ::close(fd);
    fd = -1;
    if (closed != 0)
        return abandon(errno);
    if (::rename(temporary.constData(), target.constData()) != 0)
        return abandon(errno);
    return true;
}

bool openForWriting(QFile& file, const QString& path, QIODevice::OpenMode mode, QString* error)
{
    const QByteArray native = QFile::encodeName(path);
    int flags = O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK; // O_NONBLOCK: a FIFO in the file's place cannot stall the run
    flags |= (mode & QIODevice::ReadOnly) ? O_RDWR : O_WRONLY;
    if (!(mode & QIODevice::ExistingOnly))
        flags |= O_CREAT;
    if (mode & QIODevice::NewOnly)
        flags |= O_EXCL;
    if (mode & QIODevice::Truncate)
        flags |= O_TRUNC;
    const int fd = ::open(native.constData(), flags, 0666);
    if (fd < 0)
        return fail(error, openFailure(native, errno));
    struct stat opened {};
    if (::fstat(fd, &opened) != 0) {
        const int code = errno;
        ::close(fd);
        return fail(error, systemReason(code));
    }
    if (!S_ISREG(opened.st_mode)) {
        ::close(fd);
        return fail(error, refusal(opened.st_mode));
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    const QIODevice::OpenMode kept =
        mode & ~(QIODevice::Truncate | QIODevice::NewOnly | QIODevice::ExistingOnly | QIODevice::Append);
    if (!file.open(fd, kept, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return fail(error, file.errorString());
    }
    return true;
}

bool removeWholeFile(const QString& path, QString* error)
{
    QFile file(path);
    if (file.remove() || !file.exists())
        return true;
    return fail(error, file.errorString());
}

RegularFileRead readRegularFile(const QString& path, qint64 maxBytes, QByteArray& content, QString* error)
{
    content.clear();
    const auto result = [error](RegularFileRead read, const QString& reason) {
        if (error)
            *error = reason;
        return read;
    };
    const auto systemReason = [] { return QString::fromLocal8Bit(std::strerror(errno)); };
    const QByteArray name = QFile::encodeName(path);
    int fd = -1;
    do {
        // O_NONBLOCK: opening a FIFO or a device for reading must not wait for its other end.
        fd = ::open(name.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        if (errno == ELOOP)
            return result(RegularFileRead::NotRegular, QStringLiteral("It is a symbolic link, not a file."));
        return result(RegularFileRead::Failed, systemReason());
    }
    const auto closeAnd = [fd](RegularFileRead read) {
        ::close(fd);
        return read;
    };
    struct stat status {};
    if (::fstat(fd, &status) != 0) {
        const QString reason = systemReason();
        return closeAnd(result(RegularFileRead::Failed, reason));
    }
    if (!S_ISREG(status.st_mode))
        return closeAnd(result(RegularFileRead::NotRegular, QStringLiteral("It is not a regular file.")));
    const QString tooLarge = QStringLiteral("It is larger than %1 bytes.").arg(maxBytes);
    if (status.st_size > maxBytes)
        return closeAnd(result(RegularFileRead::TooLarge, tooLarge));
    // The file may grow while it is read: at most one byte more than allowed is read, to tell that it did.
    QByteArray bytes;
    bytes.resize(qsizetype(status.st_size) + 1);
    qsizetype filled = 0;
    while (true) {
        if (filled == bytes.size()) {
            if (filled > maxBytes)
                return closeAnd(result(RegularFileRead::TooLarge, tooLarge));
            bytes.resize(qsizetype(std::min<qint64>(maxBytes + 1, qint64(filled) * 2 + 4096)));
        }
        const ssize_t got = ::read(fd, bytes.data() + filled, size_t(bytes.size() - filled));
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            const QString reason = systemReason();
            return closeAnd(result(RegularFileRead::Failed, reason));
        }
        if (got == 0)
            break;
        filled += got;
    }
    ::close(fd);
    if (filled > maxBytes)
        return result(RegularFileRead::TooLarge, tooLarge);
    bytes.truncate(filled);
    content = std::move(bytes);
    return RegularFileRead::Read;
}

} // namespace sondrel::platform
