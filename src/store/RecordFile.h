#pragma once

#include <QByteArray>
#include <QString>

#include <utility>
#include <vector>

namespace sondrel::store {

// A file of fixed-length records without header: record n (from 1) lies at (n - 1) * length.
// Failures give false and, where asked, the system's reason. Nothing is written or created through a symbolic
// link (platform/WholeFile.h); a link in the file's place is refused.
class RecordFile {
public:
    RecordFile(QString path, qsizetype recordLength)
        : m_path(std::move(path))
        , m_length(recordLength)
    {
    }

    const QString& path() const { return m_path; }

    // Creates the file empty when it does not exist.
    bool ensureExists(QString* error = nullptr) const;

    // Reads record n into record; a record at or past the end of the file reads as zero bytes.
    // The file is created empty when missing.
    bool read(int n, QByteArray& record, QString* error = nullptr) const;

    // Writes record n in place, extending the file with zero bytes when n lies past its end.
    bool writeInPlace(int n, const QByteArray& record, QString* error = nullptr) const;

    // Writes record n by replacing the whole file at once (write a new file, then rename), so a
    // crash or a full disk leaves the earlier content whole.
    bool replace(int n, const QByteArray& record, QString* error = nullptr) const;

    // Reads the whole file into content in one read. The file is created empty when missing.
    bool readAll(QByteArray& content, QString* error = nullptr) const;

    // Writes every (n, record) as replace does, all in one replacement of the whole file: either all of them are
    // written or the file is left as it was. Where a number appears twice, its last record is written.
    bool replace(const std::vector<std::pair<int, QByteArray>>& records, QString* error = nullptr) const;

    // Replaces the whole file with content at once, as replace does.
    bool replaceAll(QByteArrayView content, QString* error = nullptr) const;

private:
    QString m_path;
    qsizetype m_length;
};

} // namespace sondrel::store
