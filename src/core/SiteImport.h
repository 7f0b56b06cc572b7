#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

namespace sondrel::core {

// A line of a site list that was not taken, with what the user is told about it.
struct SiteImportLine {
    int lineNumber = 0; // from 1
    QString text;       // the line less surrounding blanks
    QString reason;     // "not a web address", "listed twice", ...
};

struct SiteImport {
    QStringList addresses; // in the order of the file
    QList<SiteImportLine> refused;
};

// Reads a text file of web addresses, one a line (UTF-8, LF or CRLF line ends, a byte order mark ignored). Blank
// lines and lines starting with "#" are skipped. Every other line, less surrounding blanks, is taken as it stands
// when it is one word that fits the 255-byte web address field and is an http or https address with a host (with
// or without its scheme) or an IP address; otherwise it is refused, never corrected. An address that matches one of
// alreadySaved or an earlier line, ignoring case, is refused too.
SiteImport parseSiteList(const QByteArray& fileContent, const QStringList& alreadySaved);

} // namespace sondrel::core
