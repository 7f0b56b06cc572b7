#include "store/RecordFile.h"

#include "platform/WholeFile.h"

#include <QFile>
#include <QFileInfo>

namespace sondrel::store {

namespace {

bool fail(QString* error, const QString& reason)
{
    if (error)
        *error = reason;
    return false;
}

// Writes every byte, retrying after a short write so that the failing call reports the system's reason
// (a full disk ends the first call early without an error).
bool writeFully(QFileDevice& file, QByteArrayView bytes)
{
    while (!bytes.isEmpty()) {
        const qint64 written = file.write(bytes.data(), bytes.size());
        if (written <= 0)
            return false;
        bytes = bytes.sliced(written);
    }
    return file.flush();
}

} // namespace

bool RecordFile::ensureExists(QString* error) const
{
    if (QFileInfo::exists(m_path))
        return true;
    // Only a new file is made: a dangling link in its place is refused rather than followed to its target.
    QFile file;
    return platform::openForWriting(file, m_path, QIODevice::WriteOnly | QIODevice::NewOnly, error);
}

bool RecordFile::read(int n, QByteArray& record, QString* error) const
{
    record = QByteArray(m_length, '\0');
    if (n < 1)
        return fail(error, QStringLiteral("Bad record number"));
    if (!ensureExists(error))
        return false;
    QFile file(m_path);
    if (!file.open(QIODevice::ReadOnly))
        return fail(error, file.errorString());
    const qint64 offset = qint64(n - 1) * m_length;
    if (offset >= file.size())
        return true;
    if (!file.seek(offset))
        return fail(error, file.errorString());
    const QByteArray bytes = file.read(m_length);
    if (bytes.isNull() && file.error() != QFileDevice::NoError)
        return fail(error, file.errorString());
    record.replace(0, bytes.size(), bytes);
    return true;
}

bool RecordFile::writeInPlace(int n, const QByteArray& record, QString* error) const
{
    if (n < 1)
        return fail(error, QStringLiteral("Bad record number"));
    QFile file;
    if (!platform::openForWriting(file, m_path, QIODevice::ReadWrite | QIODevice::Unbuffered, error))
        return false;
    const qint64 offset = qint64(n - 1) * m_length;
    if (file.size() < offset && !file.resize(offset))
        return fail(error, file.errorString());
    if (!file.seek(offset) || !writeFully(file, QByteArrayView(record).first(qMin(record.size(), m_length))))
        return fail(error, file.errorString());
    return true;
}

bool RecordFile::replace(int n, const QByteArray& record, QString* error) const
{
    return replace({{n, record}}, error);
}

bool RecordFile::readAll(QByteArray& content, QString* error) const
{
    content.clear();
    if (!ensureExists(error))
        return false;
    return platform::readWholeFile(m_path, content, error);
}

bool RecordFile::replace(const std::vector<std::pair<int, QByteArray>>& records, QString* error) const
{
    qsizetype end = 0;
    for (const auto& [n, record] : records) {
        if (n < 1)
            return fail(error, QStringLiteral("Bad record number"));
        end = qMax(end, qsizetype(n) * m_length);
    }
    QByteArray content;
    if (!platform::readWholeFile(m_path, content, error))
        return false;
    if (content.size() < end)
        content.append(QByteArray(end - content.size(), '\0'));
    for (const auto& [n, record] : records)
        content.replace(qsizetype(n - 1) * m_length, m_length, record.left(m_length).leftJustified(m_length, '\0'));
    return platform::replaceWholeFile(m_path, content, error);
}

bool RecordFile::replaceAll(QByteArrayView content, QString* error) const
{
    return platform::replaceWholeFile(m_path, content, error);
}

} // namespace sondrel::store
