#include "platform/WholeFile.h"

#include <QFile>
#include <QSaveFile>

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

} // namespace sondrel::platform
