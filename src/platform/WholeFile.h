#pragma once

#include <QByteArray>
#include <QFile>
#include <QFileDevice>
#include <QString>

#include <optional>

namespace sondrel::platform {

// Reads the whole file into content. A missing file reads as empty content. False with the system's reason
// when the file exists and cannot be read.
bool readWholeFile(const QString& path, QByteArray& content, QString* error = nullptr);

// The writers below never write through a symbolic link, nor into anything but a regular file: other users may
// write to the program's data/ and logs/ folders, and a link planted there must not make this user's run
// overwrite the file it points to. Such a path is refused with a reason that says what stands there.

// Replaces the whole file at once: the bytes go to a new file beside it, renamed over the old one only when
// every byte has been written, so a crash or a full disk leaves the earlier content whole. With permissions
// given, the new file has them before its first byte is written; otherwise a rewritten file keeps its mode.
// False with the system's reason.
bool replaceWholeFile(const QString& path, QByteArrayView content, QString* error = nullptr,
                      std::optional<QFileDevice::Permissions> permissions = std::nullopt);

// Opens file, not yet open, on path for writing: mode is WriteOnly or ReadWrite, with Truncate, NewOnly,
// ExistingOnly and Unbuffered as QFile::open takes them. A missing file is created unless ExistingOnly is given.
// file.fileName() is empty afterwards. False with the system's reason.
bool openForWriting(QFile& file, const QString& path, QIODevice::OpenMode mode, QString* error = nullptr);

// Removes the file; a file that is already missing counts as removed. False with the system's reason.
bool removeWholeFile(const QString& path, QString* error = nullptr);

// What readRegularFile found.
enum class RegularFileRead {
    Read,       // content holds the whole file
    NotRegular, // a symbolic link, a folder, a device, a FIFO or a socket: nothing was read
    TooLarge,   // the file holds more than maxBytes
    Failed,     // the file is missing or could not be opened or read
};

// Reads the file at path into content when it is a regular file of at most maxBytes, without following a
// symbolic link and without waiting on a FIFO or device. Never reads more than maxBytes + 1 bytes; error says why
// when the result is not Read.
RegularFileRead readRegularFile(const QString& path, qint64 maxBytes, QByteArray& content, QString* error = nullptr);

} // namespace sondrel::platform
