#include "store/LogFiles.h"

#include "store/FixedText.h"
#include "store/LogFormat.h"
#include "store/Paths.h"
#include "store/RecordFile.h"

#include "platform/WholeFile.h"

#include <QDir>
#include <QFileInfo>

namespace sondrel::store {

LogPaths LogPaths::ofProgram(const QString& programFolder)
{
    return {dataFile(programFolder, QStringLiteral("log.dat")), logsFile(programFolder, QString()).chopped(1),
            logsFile(programFolder, QStringLiteral("tmp.log")), true, true};
}

LogPaths LogPaths::ofSite(const QString& programFolder, int site)
{
    const QString folder = logsFile(programFolder, QStringLiteral("site-%1").arg(site));
    return {folder + QStringLiteral("/log.dat"), folder, folder + QStringLiteral("/tmp.log"), false, false};
}

LogFiles::LogFiles(QString programFolder, platform::MessageBoxes& messages)
    : LogFiles(LogPaths::ofProgram(programFolder), messages)
{
}

LogFiles::LogFiles(LogPaths paths, platform::MessageBoxes& messages)
    : m_paths(std::move(paths))
    , m_messages(messages)
{
}

LogFiles::~LogFiles() = default;

namespace {

const QString kCannotFindLogDat = QStringLiteral("Cannot find log.dat in the Data sub folder");

QString cannotWrite(const QString& path, const QString& reason)
{
    return QStringLiteral("%1 cannot be written: %2").arg(path, reason);
}

} // namespace

void LogFiles::createnewlogfile()
{
    // A log still open from an earlier Start takes no more lines.
    closeAll();
    m_failureReported = false;
    if (!m_paths.holdLogOpen)
        QDir().mkpath(m_paths.logsFolder); // a site's own folder is made at its first run
    openNextLog();
}

void LogFiles::openNextLog()
{
    const auto warn = [this](const QString& text) {
        m_messages.show(text, platform::applicationTitle(), platform::MessageIcon::Exclamation);
    };
    // The writers refuse a symbolic link in a file's place; that is told as it is, not as a missing file.
    const auto failed = [&](const QString& path, const QString& reason) {
        if (QFileInfo(path).isSymLink())
            warn(cannotWrite(path, reason));
        else
            m_messages.show(kCannotFindLogDat, platform::applicationTitle());
    };

    const RecordFile counterFile(m_paths.counter, kLogCounterLength);
    QByteArray record;
    QString reason;
    if (!counterFile.read(1, record, &reason))
        return failed(counterFile.path(), reason);
    // Whatever stands at a log's name, a link among them, is left alone.
    QString skippedLink;
    const std::optional<qint16> counter = nextLogCounter(readInt16(record, 0), [&](qint16 number) {
        const QFileInfo entry(m_paths.logsFolder + u'/' + numberedLogName(number));
        if (entry.isSymLink() && skippedLink.isEmpty())
            skippedLink = entry.filePath();
        return entry.exists() || entry.isSymLink();
    });
    if (!counter) {
        return warn(QStringLiteral("The logs sub folder holds a log for every number from %1 to %2, so this run "
                                   "keeps no log. Move or delete old logs to make room.")
                        .arg(numberedLogName(1), numberedLogName(kLastLogNumber)));
    }
    writeInt16(record, 0, *counter);
    if (!(m_paths.syncCounter ? counterFile.replace(1, record, &reason) : counterFile.writeInPlace(1, record, &reason)))
        return failed(counterFile.path(), reason);

    m_logFileName = m_paths.logsFolder + u'/' + numberedLogName(*counter);
    auto log = std::make_unique<QFile>();
    // A new file only, so that no earlier log is emptied; unbuffered: every line goes to the system in the write
    // that adds it.
    if (!platform::openForWriting(*log, m_logFileName,
                                  QIODevice::WriteOnly | QIODevice::NewOnly | QIODevice::Unbuffered, &reason))
        return failed(m_logFileName, reason);
    m_logAssigned = true;
    if (m_paths.holdLogOpen)
        m_log = std::move(log);
    if (!skippedLink.isEmpty()) {
        warn(QStringLiteral("%1 is a symbolic link, and Sondrel writes no file through one; this run logs to %2.")
                 .arg(skippedLink, m_logFileName));
    }
}

// Appends one whole line to the numbered log, or nothing: half a line would glue the next line to it.
bool LogFiles::writeLine(const QByteArray& line, QString* reason)
{
    QFile opened;
    QFile* log = m_log.get();
    if (!log) {
        if (!platform::openForWriting(opened, m_logFileName,
                                      QIODevice::WriteOnly | QIODevice::ExistingOnly | QIODevice::Unbuffered, reason))
            return false;
        opened.seek(opened.size());
        log = &opened;
    }
    const qint64 lastWholeLine = log->pos();
    if (log->write(line) == line.size())
        return true;
    *reason = log->errorString();
    if (log->resize(lastWholeLine))
        log->seek(lastWholeLine);
    log->unsetError();
    return false;
}

void LogFiles::addtologfile(const QString& logstr, const QString& RecordNumber)
{
    if (!isLogOpen())
        return;
    QString reason;
    if (!writeLine(encodeLogLine(logstr), &reason)) {
        reportWriteFailure(m_logFileName, reason);
        return;
    }
    const int recordNumber = recordNumberValue(RecordNumber);
    if (recordNumber <= 0 || recordNumber > kLastLogNumber)
        return;
    const RecordFile records(m_paths.recordFile, kLogRecordLength);
    if (!records.writeInPlace(recordNumber, encodeLogRecord(logstr), &reason))
        reportWriteFailure(records.path(), reason);
}

void LogFiles::reportWriteFailure(const QString& path, const QString& reason)
{
    if (m_failureReported)
        return;
    m_failureReported = true;
    m_messages.show(QStringLiteral("The result lines cannot be written to %1: %2").arg(path, reason),
                    platform::applicationTitle(), platform::MessageIcon::Exclamation);
}

void LogFiles::closeAll()
{
    if (m_log)
        m_log->close();
    m_log.reset();
    m_logAssigned = false;
}

bool LogFiles::isLogOpen() const
{
    return m_logAssigned && (!m_paths.holdLogOpen || (m_log && m_log->isOpen()));
}

QString LogFiles::LogFileName() const
{
    return m_logFileName;
}

void LogFiles::recreateRecordFile()
{
    const QString& path = m_paths.recordFile;
    QFile::remove(path);
    RecordFile(path, kLogRecordLength).ensureExists();
}

QStringList readRecordLines(const QString& programFolder, int count, QString* error)
{
    return readRecordFileLines(LogPaths::ofProgram(programFolder).recordFile, count, error);
}

QStringList readRecordFileLines(const QString& recordFilePath, int count, QString* error)
{
    QStringList lines;
    if (count <= 0)
        return lines;
    lines.reserve(count);

    QByteArray bytes;
    const RecordFile records(recordFilePath, kLogRecordLength);
    if (records.ensureExists(error)) {
        QFile file(records.path());
        if (file.open(QIODevice::ReadOnly))
            bytes = file.read(qint64(count) * kLogRecordLength);
        else if (error)
            *error = file.errorString();
    }
    for (int i = 0; i < count; ++i) {
        const qsizetype offset = qsizetype(i) * kLogRecordLength;
        lines.append(offset < bytes.size() ? decodeLogRecord(QByteArrayView(bytes).sliced(offset).first(
                                                 qMin(kLogRecordLength, bytes.size() - offset)))
                                           : QString());
    }
    return lines;
}

} // namespace sondrel::store
