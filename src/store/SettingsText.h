#pragma once

#include <QByteArray>
#include <QString>

namespace sondrel::store {

// Our settings files that are text (data/alerts.ini, data/desktop.ini, data/mailsecurity.ini,
// data/trustedcertificates) as a text editor may leave them: a UTF-8 byte order mark at the start is no part of the
// first line.
QByteArray withoutByteOrderMark(QByteArray text);

// The file's text less such a mark; platform::readWholeFile otherwise (a missing file reads as empty).
bool readSettingsText(const QString& path, QByteArray& text, QString* error = nullptr);

} // namespace sondrel::store
