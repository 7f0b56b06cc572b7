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

// The host the echo goes to for the same text. A text with a scheme, a port, a path or IPv6 brackets
// ("https://example.com/status", "127.0.0.1:8090", "[2001:db8::1]") pings the host of its page address
// (an IPv6 host without its brackets); any other text, a plain name, a dotted address or a bare IPv6
// literal, is the target exactly as typed.
QString pingTarget(const QString& webAddressText);

} // namespace sondrel::probe
