#pragma once

#include "platform/MessageBoxes.h"

#include <QFile>
#include <QString>
#include <QStringList>

#include <memory>

namespace sondrel::store {

// The run's logs: the counter data/log.dat, the numbered log logs/NNNNNN.log that stays open for the
// run, and the record file logs/tmp.log holding the current run's lines by check number.
class LogFiles {
public:
    LogFiles(QString programFolder, platform::MessageBoxes& messages);
    ~LogFiles();
    LogFiles(const LogFiles&) = delete;
    LogFiles& operator=(const LogFiles&) = delete;

    // Advances the counter (saved before the log is created) and opens the next numbered log, emptied if it
    // exists. Every failure shows "Cannot find log.dat in the Data sub folder" and leaves no log open.
    void createnewlogfile();

    // Appends the line to the open numbered log, flushed to the system before returning, and stores it
    // trimmed as record RecordNumber of logs/tmp.log. Fails silently: nothing at all for a number above
    // 32767 or without an open log; the line but no record for a number of 0 or less or when the record
    // file cannot be written.
    void addtologfile(const QString& logstr, const QString& RecordNumber);

    // Closes the numbered log if open.
    void closeAll();

    bool isLogOpen() const;
    // Full path of the numbered log last created or attempted (empty before the first).
    QString LogFileName() const;

    // Deletes logs/tmp.log and creates it empty.
    void recreateRecordFile();

private:
    bool openNextLog();

    QString m_programFolder;
    platform::MessageBoxes& m_messages;
    std::unique_ptr<QFile> m_log;
    QString m_logFileName;
};

// Lines 1..count of logs/tmp.log, each record's text trimmed of spaces. A missing file is created empty;
// records past its end, or that cannot be read, give empty text. The file is read once.
QStringList readRecordLines(const QString& programFolder, int count, QString* error = nullptr);

} // namespace sondrel::store
