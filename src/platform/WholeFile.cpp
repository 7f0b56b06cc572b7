#include "platform/WholeFile.h"

#include <QFile>
#include <QSaveFile>

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
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        return fail(error, file.errorString());
    // QSaveFile gives a new file the default mode and a rewritten one the old file's mode; a file that must
    // stay private gets its mode before it holds anything.
    if (permissions && !file.setPermissions(*permissions)) {
        const QString reason = file.errorString();
        file.cancelWriting();
        return fail(error, reason);
    }
    // Qt's commit() does not notice a failed final flush and would rename a cut-off file over the old one, so
    // every byte is written and checked before it; a short write is retried so that the failing call reports
    // the system's reason (a full disk ends the first call early without an error).
    while (!content.isEmpty()) {
        const qint64 written = file.write(content.data(), content.size());
        if (written <= 0) {
            const QString reason = file.errorString();
            file.cancelWriting();
            return fail(error, reason);
        }
        content = content.sliced(written);
    }
    if (!file.commit())
        return fail(error, file.errorString());
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
