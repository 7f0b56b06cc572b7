#pragma once

#include <QByteArray>
#include <QString>

namespace sondrel::platform {

// The program's 8-bit code page, Windows-1252: every text in its files and on its sockets uses it.
// Characters it cannot hold become "?".
QByteArray toCodePage(QStringView text);
QString fromCodePage(QByteArrayView bytes);

} // namespace sondrel::platform
