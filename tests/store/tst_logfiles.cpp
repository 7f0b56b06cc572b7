#include "store/LogFiles.h"
#include "store/LogFormat.h"

#include "support/Fakes.h"
#include "support/FileSizeLimit.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace sondrel::store;

namespace {

QByteArray readAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void writeAll(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(file.write(bytes), bytes.size());
}

QByteArray counter(qint16 value)
{
    return QByteArray(1, char(value & 0xff)) + QByteArray(1, char((value >> 8) & 0xff));
}

QByteArray padded(const QByteArray& text)
{
    return text + QByteArray(200 - text.size(), ' ');
}

} // namespace

class TestLogFiles : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    QString m_folder;
    sondrel::test::FakeMessageBoxes m_messages;
    std::unique_ptr<LogFiles> m_logs;

    QString logDat() const { return m_folder + QStringLiteral("/data/log.dat"); }
    QString tmpLog() const { return m_folder + QStringLiteral("/logs/tmp.log"); }
    QStringList logsFolder() const { return QDir(m_folder + QStringLiteral("/logs")).entryList(QDir::Files); }
    void expectCannotFindLogDat()
    {
        QCOMPARE(m_messages.texts(), QStringList{"Cannot find log.dat in the Data sub folder"});
        QCOMPARE(m_messages.shown.first().title, sondrel::platform::applicationTitle());
        QVERIFY(!m_logs->isLogOpen());
    }

private slots:
    void init()
    {
        QVERIFY(m_dir.isValid());
        m_folder = m_dir.path() + u'/' + QString::fromLatin1(QTest::currentTestFunction()) +
                   QString::fromLatin1(QTest::currentDataTag());
        QVERIFY(QDir().mkpath(m_folder + QStringLiteral("/data")));
        QVERIFY(QDir().mkpath(m_folder + QStringLiteral("/logs")));
        m_messages.shown.clear();
        m_logs = std::make_unique<LogFiles>(m_folder, m_messages);
    }

    // createnewlogfile

    void newLog_advancesCounterAndPadsName_data()
    {
        QTest::addColumn<QByteArray>("stored");
        QTest::addColumn<QString>("name");
        QTest::newRow("no file") << QByteArray() << "000001.log";
        QTest::newRow("9") << counter(9) << "000010.log";
        QTest::newRow("99") << counter(99) << "000100.log";
        QTest::newRow("999") << counter(999) << "001000.log";
        QTest::newRow("9999, longer file") << counter(9999) + "xy"
                                           << "010000.log";
        QTest::newRow("32766") << counter(32766) << "032767.log";
    }
    void newLog_advancesCounterAndPadsName()
    {
        QFETCH(QByteArray, stored);
        QFETCH(QString, name);
        if (!stored.isEmpty())
            writeAll(logDat(), stored);
        m_logs->createnewlogfile();
        QCOMPARE(m_messages.texts(), QStringList());
        QCOMPARE(logsFolder(), QStringList{name});
        QVERIFY(m_logs->isLogOpen());
        QCOMPARE(m_logs->LogFileName(), m_folder + QStringLiteral("/logs/") + name);
        const QByteArray saved = readAll(logDat());
        QCOMPARE(saved.size(), qMax<qsizetype>(2, stored.size()));
        QCOMPARE(saved.sliced(2), stored.mid(2));
        QCOMPARE(numberedLogName(qint16(uchar(saved[0]) | uchar(saved[1]) << 8)), name);
    }

    // The counter never stops logging and never empties an old log: it goes on at the first number after it whose
    // log does not exist, from 32767 at 1, and a damaged counter starts from 1.
    void newLog_takesTheNextFreeNumber_andKeepsEveryOldLog_data()
    {
        QTest::addColumn<QByteArray>("stored");
        QTest::addColumn<QStringList>("existing");
        QTest::addColumn<QString>("name");
        QTest::newRow("32767") << counter(32767) << QStringList{} << "000001.log";
        QTest::newRow("32767, first logs kept")
            << counter(32767) << QStringList{"000001.log", "000002.log"} << "000003.log";
        QTest::newRow("32766, last log kept") << counter(32766) << QStringList{"032767.log"} << "000001.log";
        QTest::newRow("next log kept") << counter(4) << QStringList{"000005.log", "000006.log"} << "000007.log";
        QTest::newRow("no counter, first log kept") << QByteArray() << QStringList{"000001.log"} << "000002.log";
        QTest::newRow("negative") << counter(-3) << QStringList{} << "000001.log";
    }
    void newLog_takesTheNextFreeNumber_andKeepsEveryOldLog()
    {
        QFETCH(QByteArray, stored);
        QFETCH(QStringList, existing);
        QFETCH(QString, name);
        if (!stored.isEmpty())
            writeAll(logDat(), stored);
        for (const QString& old : existing)
            writeAll(m_folder + QStringLiteral("/logs/") + old, old.toLatin1());
        m_logs->createnewlogfile();
        QCOMPARE(m_messages.texts(), QStringList());
        QVERIFY(m_logs->isLogOpen());
        QCOMPARE(m_logs->LogFileName(), m_folder + QStringLiteral("/logs/") + name);
        QCOMPARE(readAll(logDat()), counter(qint16(name.first(6).toInt())));
        for (const QString& old : existing)
            QCOMPARE(readAll(m_folder + QStringLiteral("/logs/") + old), old.toLatin1());
        QStringList expected = existing << name;
        expected.sort();
        QCOMPARE(logsFolder(), expected);
    }

    void everyLogNumberTaken_saysSo_andChangesNothing()
    {
        for (int number = 1; number <= kLastLogNumber; ++number) {
            QFile old(m_folder + QStringLiteral("/logs/") + numberedLogName(qint16(number)));
            QVERIFY(old.open(QIODevice::WriteOnly));
        }
        writeAll(logDat(), counter(100));
        m_logs->createnewlogfile();
        QCOMPARE(m_messages.shown.size(), 1);
        const QString said = m_messages.shown[0].text;
        QVERIFY2(said.contains(QStringLiteral("a log for every number from 000001.log to 032767.log")),
                 qPrintable(said));
        QVERIFY(!m_logs->isLogOpen());
        QCOMPARE(readAll(logDat()), counter(100));
    }

    // Other users may write to data/ and logs/: a link planted there never makes the run write the file it points
    // to (nor create it), and the message names the file that was not written.
    void symbolicLinkInAFilesPlace_isNotWrittenThrough_data()
    {
        QTest::addColumn<QString>("link");
        QTest::addColumn<bool>("dangling");
        QTest::newRow("log.dat") << "data/log.dat" << false;
        QTest::newRow("log.dat, dangling") << "data/log.dat" << true;
        QTest::newRow("numbered log") << "logs/000001.log" << false;
        QTest::newRow("numbered log, dangling") << "logs/000001.log" << true;
        QTest::newRow("record file") << "logs/tmp.log" << false;
        QTest::newRow("record file, dangling") << "logs/tmp.log" << true;
    }
    void symbolicLinkInAFilesPlace_isNotWrittenThrough()
    {
        QFETCH(QString, link);
        QFETCH(bool, dangling);
        const QString linkPath = m_folder + u'/' + link;
        const QString target = m_folder + QStringLiteral("-others-file");
        const QByteArray others("another user's file");
        if (!dangling)
            writeAll(target, others);
        const bool recordFile = link.endsWith(QStringLiteral("tmp.log"));
        if (!recordFile)
            QVERIFY(QFile::link(target, linkPath));

        m_logs->recreateRecordFile();
        m_logs->createnewlogfile();
        if (recordFile) // made after the start, which replaces the record file whatever stands there
            QVERIFY(QFile::remove(tmpLog()) && QFile::link(target, tmpLog()));
        m_logs->addtologfile(QStringLiteral("line"), QStringLiteral("1"));
        m_logs->addtologfile(QStringLiteral("line"), QStringLiteral("2"));

        if (dangling)
            QVERIFY(!QFileInfo::exists(target));
        else
            QCOMPARE(readAll(target), others);
        QVERIFY(QFileInfo(linkPath).isSymLink());
        QCOMPARE(m_messages.shown.size(), 1);
        QVERIFY2(m_messages.shown[0].text.contains(linkPath), qPrintable(m_messages.shown[0].text));
        QVERIFY2(m_messages.shown[0].text.contains(QStringLiteral("symbolic link")),
                 qPrintable(m_messages.shown[0].text));
        QCOMPARE(m_messages.shown[0].icon, sondrel::platform::MessageIcon::Exclamation);
        // The counter is not written through a link; a link at the log's name is passed over, and the run logs on.
        QCOMPARE(m_logs->isLogOpen(), !link.startsWith(QStringLiteral("data/")));
        if (m_logs->isLogOpen())
            QCOMPARE(readAll(m_logs->LogFileName()), QByteArray("\"line\"\r\n\"line\"\r\n"));
    }

    void missingLogsFolder_stillAdvancesCounter()
    {
        QVERIFY(QDir(m_folder + QStringLiteral("/logs")).removeRecursively());
        writeAll(logDat(), counter(4));
        m_logs->createnewlogfile();
        expectCannotFindLogDat();
        QCOMPARE(readAll(logDat()), counter(5));
    }

    void missingDataFolderOrFullDisk_opensNoLog()
    {
        QVERIFY(QDir(m_folder + QStringLiteral("/data")).removeRecursively());
        m_logs->createnewlogfile();
        expectCannotFindLogDat();

        QVERIFY(QDir().mkpath(m_folder + QStringLiteral("/data")));
        writeAll(logDat(), counter(7));
        m_messages.shown.clear();
        {
            sondrel::test::FileSizeLimit limit(1);
            if (!limit.active())
                QSKIP("cannot limit the file size here");
            m_logs->createnewlogfile();
        }
        expectCannotFindLogDat();
        QCOMPARE(readAll(logDat()), counter(7));
        QCOMPARE(logsFolder(), QStringList());
    }

    void secondStart_closesTheFirstLog()
    {
        m_logs->createnewlogfile();
        m_logs->addtologfile(QStringLiteral("first run"), QStringLiteral("000001"));
        m_logs->createnewlogfile();
        m_logs->addtologfile(QStringLiteral("second run"), QStringLiteral("000001"));
        m_logs->closeAll();
        QVERIFY(!m_logs->isLogOpen());
        m_logs->addtologfile(QStringLiteral("after close"), QStringLiteral("000002")); // no log open: nothing
        QCOMPARE(readAll(m_folder + QStringLiteral("/logs/000001.log")), QByteArray("\"first run\"\r\n"));
        QCOMPARE(readAll(m_folder + QStringLiteral("/logs/000002.log")), QByteArray("\"second run\"\r\n"));
        QCOMPARE(readAll(tmpLog()), padded("second run"));
    }

    // addtologfile

    void linesReachLogWholeAndRecordsTrimmed()
    {
        m_logs->recreateRecordFile();
        m_logs->createnewlogfile();
        const QString blanks = QStringLiteral(" 000003 01/02/2024 10:00:00 Trip Time=12 ms Average=11     ");
        const QString euro = QStringLiteral(u"\u20ac\u0416 \"q\"");
        const QString longLine = QString(150, u'a') + QString(100, u'b');
        m_logs->addtologfile(blanks, QStringLiteral("000003"));
        m_logs->addtologfile(euro, QStringLiteral("  000001 "));
        m_logs->addtologfile(longLine, QStringLiteral("2"));

        // Read while the log is still open: every line has reached the file.
        const QByteArray euroStored("\xe2\x82\xac\xd0\x96 \"q\""); // past the code page: UTF-8
        QCOMPARE(readAll(m_logs->LogFileName()),
                 '"' + blanks.toLatin1() + "\"\r\n\"" + euroStored + "\"\r\n\"" + longLine.toLatin1() + "\"\r\n");
        QCOMPARE(readAll(tmpLog()), padded(euroStored) + QByteArray(200, 'a').replace(150, 50, QByteArray(50, 'b')) +
                                        padded(blanks.trimmed().toLatin1()));
        QCOMPARE(readRecordLines(m_folder, 4), (QStringList{euro, longLine.left(200), blanks.trimmed(), QString()}));
    }

    void textsInAnyScript_reachLogAndRecordFile_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<QByteArray>("stored"); // between the quotes of the log line
        QTest::addColumn<QByteArray>("record"); // before the padding
        QTest::addColumn<QString>("kept");      // what the record reads back as

        const auto whole = [](const char* name, const QString& line, const QByteArray& stored) {
            QTest::newRow(name) << line << stored << stored << line;
        };
        whole("windows-1252 as before", u"000001 02.01.2024 10:00:00 Café € Gruß"_qs,
              "000001 02.01.2024 10:00:00 Caf\xe9 \x80 Gru\xdf");
        const QString cyrillic = u"000001 02.01.2024 10:00:00 Страница не найдена"_qs;
        whole("cyrillic", cyrillic, cyrillic.toUtf8());
        const QString arabic = u"000001 ٠٢/٠١/٢٠٢٤ ١٠:٠٠:٠٠ م Trip Time=12 ms Average=11"_qs;
        whole("arabic date and time", arabic, arabic.toUtf8());
        const QString korean = u"000001 2024. 1. 2. 오후 10:00:00 Trip Time=12 ms Average=11"_qs;
        whole("korean time words", korean, korean.toUtf8());
        const QString japanese = u"000001 2024/01/02 午後 10:00:00 Trip Time=12 ms Average=11"_qs;
        whole("japanese time words", japanese, japanese.toUtf8());

        // 201 bytes: the record keeps the characters that fit whole, then one space of padding.
        const QString longArabic = u'a' + QString(100, u'م');
        QTest::newRow("record cut at a character boundary")
            << longArabic << longArabic.toUtf8() << longArabic.toUtf8().first(199) << longArabic.first(100);
    }
    void textsInAnyScript_reachLogAndRecordFile()
    {
        QFETCH(QString, line);
        QFETCH(QByteArray, stored);
        QFETCH(QByteArray, record);
        m_logs->recreateRecordFile();
        m_logs->createnewlogfile();
        m_logs->addtologfile(line, QStringLiteral("000001"));
        QCOMPARE(readAll(m_logs->LogFileName()), '"' + stored + "\"\r\n");
        QCOMPARE(readAll(tmpLog()), padded(record));
        QTEST(readRecordLines(m_folder, 1).value(0), "kept");
    }

    // The numbered log keeps every line of a run; the record file only holds checks 1 to 32767.
    void numberOutsideTheRecordFile_writesTheLineOnly_data()
    {
        QTest::addColumn<QString>("recordNumber");
        QTest::newRow("empty") << "";
        QTest::newRow("zero") << "000000";
        QTest::newRow("text") << "abc";
        QTest::newRow("32768") << "032768";
        QTest::newRow("seven digits") << "0100000";
    }
    void numberOutsideTheRecordFile_writesTheLineOnly()
    {
        QFETCH(QString, recordNumber);
        m_logs->recreateRecordFile();
        m_logs->createnewlogfile();
        m_logs->addtologfile(QStringLiteral("line"), recordNumber);
        QCOMPARE(readAll(m_logs->LogFileName()), QByteArray("\"line\"\r\n"));
        QCOMPARE(QFileInfo(tmpLog()).size(), 0);
        QVERIFY(m_messages.shown.isEmpty());
    }

    // A full disk: a line reaches the log whole or not at all, the first failure of the run is told once,
    // and lines that fit again later follow the last whole line.
    void fullDisk_cutsBackToTheLastWholeLine_andTellsOnce()
    {
        m_logs->recreateRecordFile();
        m_logs->createnewlogfile();
        const QString first(40, u'a');
        m_logs->addtologfile(first, QStringLiteral("1"));
        {
            sondrel::test::FileSizeLimit limit(60); // room for half of the next line
            if (!limit.active())
                QSKIP("cannot limit the file size here");
            m_logs->addtologfile(QString(40, u'b'), QStringLiteral("2"));
            m_logs->addtologfile(QString(40, u'c'), QStringLiteral("3"));
        }
        m_logs->addtologfile(QStringLiteral("d"), QStringLiteral("4"));
        QCOMPARE(readAll(m_logs->LogFileName()), '"' + first.toLatin1() + "\"\r\n\"d\"\r\n");
        QCOMPARE(m_messages.shown.size(), 1);
        QVERIFY2(m_messages.shown[0].text.contains(m_logs->LogFileName()), qPrintable(m_messages.shown[0].text));
        QCOMPARE(m_messages.shown[0].icon, sondrel::platform::MessageIcon::Exclamation);
        QCOMPARE(readRecordLines(m_folder, 4), (QStringList{first, QString(), QString(), QStringLiteral("d")}));

        m_logs->createnewlogfile(); // a new run tells its own first failure
        {
            sondrel::test::FileSizeLimit limit(0);
            m_logs->addtologfile(QStringLiteral("e"), QStringLiteral("1"));
        }
        QCOMPARE(m_messages.shown.size(), 2);
    }

    void logsFolderGoneDuringRun_writesLineButNoRecord()
    {
        m_logs->createnewlogfile();
        // The open log moves with its folder; the record file's path no longer exists.
        QVERIFY(QDir().rename(m_folder + QStringLiteral("/logs"), m_folder + QStringLiteral("/moved")));
        m_logs->addtologfile(QStringLiteral("line"), QStringLiteral("000001"));
        QCOMPARE(readAll(m_folder + QStringLiteral("/moved/000001.log")), QByteArray("\"line\"\r\n"));
        QVERIFY(!QFile::exists(tmpLog()));
    }

    void lineThatCannotBeWritten_storesNoRecord()
    {
        m_logs->recreateRecordFile();
        m_logs->createnewlogfile();
        m_logs->addtologfile(QString(300, u'a'), QStringLiteral("1"));
        {
            sondrel::test::FileSizeLimit limit(250); // the log is past it, record 1 is not
            if (!limit.active())
                QSKIP("cannot limit the file size here");
            m_logs->addtologfile(QStringLiteral("b"), QStringLiteral("1"));
        }
        QCOMPARE(readAll(tmpLog()), QByteArray(200, 'a'));
    }

    // The record file

    void recordFile_recreatedEmptyAndReadBackWithGaps()
    {
        writeAll(tmpLog(), padded("old run"));
        m_logs->recreateRecordFile();
        QCOMPARE(QFileInfo(tmpLog()).size(), 0);
        QVERIFY(QFile::remove(tmpLog()));
        QCOMPARE(readRecordLines(m_folder, 2), (QStringList{QString(), QString()}));
        QVERIFY(QFile::exists(tmpLog()));
        QCOMPARE(readRecordLines(m_folder, 0), QStringList());

        writeAll(tmpLog(), padded("one") + "two  "); // cut-off last record
        QCOMPARE(readRecordLines(m_folder, 3), (QStringList{"one", "two", QString()}));

        QVERIFY(QDir(m_folder + QStringLiteral("/logs")).removeRecursively());
        QString error;
        QCOMPARE(readRecordLines(m_folder, 1, &error), QStringList{QString()});
        QVERIFY(!error.isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestLogFiles)
#include "tst_logfiles.moc"
