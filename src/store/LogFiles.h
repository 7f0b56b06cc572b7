#pragma once

#include "platform/MessageBoxes.h"

#include <QFile>
#include <QString>
#include <QStringList>

#include <memory>

namespace sondrel::store {

// Where a run's logs are: the counter, the folder of the numbered logs and the record file.
struct LogPaths {
    QString counter;         // a 2-byte record file: the number of the last numbered log created
    QString logsFolder;      // holds NNNNNN.log
    QString recordFile;      // 200-byte records, the current run's lines by check number
    bool holdLogOpen = true; // false: the numbered log is opened for each line and closed again
    // Whether the counter is replaced whole and synced to the disk. A counter written in place may be lost in a
    // crash; no log is overwritten for it, since a number whose log exists is skipped.
    bool syncCounter = true;

    // data/log.dat, logs/ and logs/tmp.log of the program folder; the numbered log stays open for the run.
    static LogPaths ofProgram(const QString& programFolder);
    // The logs of saved site `site` when it is watched beside others, in logs/site-N/ of the program folder:
    // its own counter log.dat, numbered logs and record file tmp.log. Its numbered log is opened for each line,
    // so that thousands of runs hold no descriptor between checks, and its counter is written in place, so that
    // thousands of runs starting together do not wait for the disk thousands of times.
    static LogPaths ofSite(const QString& programFolder, int site);
};

// The run's logs: the counter, the numbered log NNNNNN.log that receives every line of the run, and the
// record file holding the current run's lines by check number.
class LogFiles {
public:
    LogFiles(QString programFolder, platform::MessageBoxes& messages);
    LogFiles(LogPaths paths, platform::MessageBoxes& messages);
    ~LogFiles();
    LogFiles(const LogFiles&) = delete;
    LogFiles& operator=(const LogFiles&) = delete;

    // A site's own logs folder is made first when it is missing. Advances the counter (saved before the log is created)
    // to the next number whose log does not exist (LogFormat.h: nextLogCounter) and creates that log; no earlier log is
    // touched. A failure leaves no log open and shows "Cannot find log.dat in the Data sub folder", or, when a symbolic
    // link stands where a file is written, a message naming it; a message also tells when every log number is taken.
    void createnewlogfile();

    // Appends the line to the open numbered log, flushed to the system before returning, and stores it
    // trimmed as record RecordNumber of logs/tmp.log when that number is from 1 to 32767, which the record
    // file's layout holds. A line reaches the log whole or not at all: a write that fails is cut back to the
    // last whole line, and no record is stored for it. The first failure of a run names the file and the
    // system's reason in a message; later ones are silent, and the run goes on either way.
    void addtologfile(const QString& logstr, const QString& RecordNumber);

    // Closes the numbered log if open.
    void closeAll();

    bool isLogOpen() const;
    // Full path of the numbered log last created or attempted (empty before the first).
    QString LogFileName() const;

    // Deletes the record file and creates it empty.
    void recreateRecordFile();
    const LogPaths& paths() const { return m_paths; }

private:
    void openNextLog();
    bool writeLine(const QByteArray& line, QString* reason);
    void reportWriteFailure(const QString& path, const QString& reason);

    LogPaths m_paths;
    platform::MessageBoxes& m_messages;
    std::unique_ptr<QFile> m_log; // the open numbered log, when it is held open
    bool m_logAssigned = false;   // a numbered log was created for this run and takes its lines
    QString m_logFileName;
    bool m_failureReported = false; // a write failure of this run has been told
};

// Lines 1..count of logs/tmp.log, each record's text trimmed of spaces. A missing file is created empty;
// records past its end, or that cannot be read, give empty text. The file is read once.
QStringList readRecordLines(const QString& programFolder, int count, QString* error = nullptr);
// The same from the record file at recordFilePath.
QStringList readRecordFileLines(const QString& recordFilePath, int count, QString* error = nullptr);

} // namespace sondrel::store
