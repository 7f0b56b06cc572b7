#pragma once

#include <QByteArray>
#include <QFileDevice>
#include <QString>

#include <optional>

namespace sondrel::platform {

// Reads the whole file into content. A missing file reads as empty content. False with the system's reason
// when the file exists and cannot be read.
bool readWholeFile(const QString& path, QByteArray& content, QString* error = nullptr);

// Replaces the whole file at once: the bytes go to a new file beside it, renamed over the old one only when
// every byte has been written, so a crash or a full disk leaves the earlier content whole. With permissions
// given, the new file has them before its first byte is written. False with the system's reason.
bool replaceWholeFile(const QString& path, QByteArrayView content, QString* error = nullptr,
                      std::optional<QFileDevice::Permissions> permissions = std::nullopt);

// Removes the file; a file that is already missing counts as removed. False with the system's reason.
bool removeWholeFile(const QString& path, QString* error = nullptr);

} // namespace sondrel::platform
