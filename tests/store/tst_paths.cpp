#include "store/Paths.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace sondrel::store;

class TestPaths : public QObject {
    Q_OBJECT
private slots:
    void chooseProgramFolder_portableWhenWritable_elseTheUsersDataHome_data()
    {
        QTest::addColumn<bool>("folderWritable");
        QTest::addColumn<bool>("dataWritable");
        QTest::addColumn<QString>("xdgDataHome");
        QTest::addColumn<QString>("expected");
        QTest::newRow("writable folder") << true << false << "/x"
                                         << "/opt/sondrel";
        QTest::newRow("only data/ writable") << false << true << "/x"
                                             << "/opt/sondrel";
        QTest::newRow("unwritable") << false << false << "/x/share/"
                                    << "/x/share/sondrel";
        QTest::newRow("XDG_DATA_HOME unset") << false << false << ""
                                             << "/home/u/.local/share/sondrel";
        QTest::newRow("XDG_DATA_HOME relative") << false << false << "x/share"
                                                << "/home/u/.local/share/sondrel";
    }
    void chooseProgramFolder_portableWhenWritable_elseTheUsersDataHome()
    {
        QFETCH(bool, folderWritable);
        QFETCH(bool, dataWritable);
        QFETCH(QString, xdgDataHome);
        QFETCH(QString, expected);
        QCOMPARE(chooseProgramFolder(QStringLiteral("/opt/sondrel/"), folderWritable, dataWritable, xdgDataHome,
                                     QStringLiteral("/home/u/")),
                 expected);
    }

    // As root every folder is writable, so this copy stays portable and makes nothing in the data home.
    void openProgramFolder_writableFolder_isUsedAsItIs()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        qputenv("XDG_DATA_HOME", QFile::encodeName(dir.filePath(QStringLiteral("share"))));
        QCOMPARE(openProgramFolder(dir.path() + u'/'), dir.path());
        QVERIFY(QDir(dir.path()).isEmpty());
    }

    void helpFile_besideTheProgram_elseInTheInstalledShareFolder_data()
    {
        QTest::addColumn<QStringList>("pages");
        QTest::addColumn<QString>("expected");
        QTest::newRow("portable") << QStringList{"bin/SDR.html", "share/sondrel/SDR.html"} << "bin/SDR.html";
        QTest::newRow("installed") << QStringList{"share/sondrel/SDR.html"} << "share/sondrel/SDR.html";
        QTest::newRow("missing") << QStringList{} << "home/sondrel/SDR.html";
    }
    void helpFile_besideTheProgram_elseInTheInstalledShareFolder()
    {
        QFETCH(QStringList, pages);
        QFETCH(QString, expected);
        QTemporaryDir prefix;
        QVERIFY(prefix.isValid() && QDir(prefix.path()).mkpath(QStringLiteral("bin")));
        for (const QString& page : pages) {
            QVERIFY(QDir(prefix.path()).mkpath(QFileInfo(page).path()));
            QFile file(prefix.filePath(page));
            QVERIFY(file.open(QIODevice::WriteOnly));
        }
        // Portable: the program folder is the executable's own; installed: it is the user's data home.
        const QString programFolder = prefix.filePath(
            pages.contains(QStringLiteral("bin/SDR.html")) ? QStringLiteral("bin") : QStringLiteral("home/sondrel"));
        QCOMPARE(helpFileFor(programFolder, prefix.filePath(QStringLiteral("bin"))), prefix.filePath(expected));
    }
};

QTEST_APPLESS_MAIN(TestPaths)
#include "tst_paths.moc"
