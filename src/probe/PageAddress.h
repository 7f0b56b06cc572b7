#pragma once

#include <QString>
#include <QUrl>

namespace sondrel::probe {

// The address to fetch for the text of "Web Address To Check", read as a browser's address bar
// reads it: surrounding blanks are ignored and an address without a scheme is http
// ("www.example.com", "localhost:8080/status", "ftp.example.com" all become http://...). Only
// http and https addresses with a host are fetched; anything else (an empty text, a local path,
// "ftp://...", "mailto:...") gives an empty QUrl.
QUrl pageAddress(const QString& webAddressText);

} // namespace sondrel::probe
