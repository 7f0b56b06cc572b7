#include "store/ProgramLock.h"

#include "support/ProgramFolder.h"

#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QProcess>
#include <QSysInfo>
#include <QTest>

#include <unistd.h>

using namespace sondrel::store;
using Result = ProgramLock::Result;

Q_DECLARE_METATYPE(ProgramLock::Result)

class TestProgramLock : public QObject {
    Q_OBJECT
private slots:
    // Only a living copy on this folder refuses a start; any lock that no living process holds is taken over, and
    // what cannot be a lock is named with what to do, not taken for a running copy.
    void acquire_takesOverEveryLockWithoutALivingOwner_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<Result>("expected");
        QTest::newRow("none") << "none" << Result::Acquired;
        QTest::newRow("empty") << "empty" << Result::Acquired;
        QTest::newRow("garbage") << "garbage" << Result::Acquired;
        QTest::newRow("another host, earlier layout") << "another host" << Result::Acquired;
        QTest::newRow("process gone") << "dead pid" << Result::Acquired;
        QTest::newRow("held by a running copy") << "held" << Result::HeldByAnother;
        QTest::newRow("held by an earlier version") << "held by QLockFile" << Result::HeldByAnother;
        QTest::newRow("dangling symbolic link") << "dangling link" << Result::NotALockFile;
        QTest::newRow("symbolic link to a file") << "link" << Result::NotALockFile;
        QTest::newRow("folder") << "folder" << Result::NotALockFile;
    }
    void acquire_takesOverEveryLockWithoutALivingOwner()
    {
        QFETCH(QString, kind);
        QFETCH(Result, expected);
        const auto folder = sondrel::test::newProgramFolder();
        QVERIFY(folder->isValid());
        const QString path = folder->filePath(QStringLiteral("data/sondrel.lock"));
        const QString target = folder->filePath(QStringLiteral("others-file"));
        const auto write = [&](const QByteArray& bytes) {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            QCOMPARE(file.write(bytes), bytes.size());
        };
        const QByteArray others("another user's file");
        std::unique_ptr<ProgramLock> running;
        std::unique_ptr<QLockFile> earlier;
        if (kind == QStringLiteral("empty")) {
            write({});
        } else if (kind == QStringLiteral("garbage")) {
            write(QByteArray("\xff\x00 not a lock\n\n\n", 15));
        } else if (kind == QStringLiteral("another host")) {
            write("4242\nsondrel\nsome-other-host\n");
        } else if (kind == QStringLiteral("dead pid")) {
            QProcess gone;
            gone.start(QStringLiteral("true"));
            QVERIFY(gone.waitForFinished(10000));
            write(QByteArray::number(gone.processId()) + "\nsondrel\n" + QSysInfo::machineHostName().toUtf8() + '\n' +
                  QSysInfo::machineUniqueId() + '\n');
        } else if (kind == QStringLiteral("held")) {
            running = std::make_unique<ProgramLock>(folder->path());
            QCOMPARE(running->acquire(), Result::Acquired);
        } else if (kind == QStringLiteral("held by QLockFile")) {
            earlier = std::make_unique<QLockFile>(path);
            QVERIFY(earlier->tryLock(0));
        } else if (kind == QStringLiteral("dangling link")) {
            QVERIFY(QFile::link(target, path));
        } else if (kind == QStringLiteral("link")) {
            QFile file(target);
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write(others) == others.size());
            file.close();
            QVERIFY(QFile::link(target, path));
        } else if (kind == QStringLiteral("folder")) {
            QVERIFY(QDir().mkdir(path));
        }

        {
            ProgramLock lock(folder->path());
            QCOMPARE(lock.acquire(), expected);
            if (expected == Result::NotALockFile) {
                QVERIFY2(lock.problem().startsWith(path + QStringLiteral(" is a")), qPrintable(lock.problem()));
                QVERIFY2(lock.problem().contains(QStringLiteral("Remove it")), qPrintable(lock.problem()));
            } else {
                QCOMPARE(lock.problem(), QString());
            }
            if (expected == Result::Acquired) {
                QFile file(path);
                QVERIFY(file.open(QIODevice::ReadOnly));
                QCOMPARE(file.readLine(), QByteArray::number(qint64(::getpid())) + '\n');
                QCOMPARE(ProgramLock(folder->path()).acquire(), Result::HeldByAnother);
            }
        }
        // The link is never followed, and once the lock is let go the next copy takes it.
        if (kind == QStringLiteral("link"))
            QCOMPARE(
                [&] {
                    QFile file(target);
                    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
                }(),
                others);
        QVERIFY(kind != QStringLiteral("dangling link") || !QFileInfo::exists(target));
        if (expected == Result::Acquired) {
            QVERIFY(!QFileInfo::exists(path));
            QCOMPARE(ProgramLock(folder->path()).acquire(), Result::Acquired);
        }
    }

    void acquire_withoutADataFolder_hasNothingToGuard()
    {
        QTemporaryDir folder;
        QVERIFY(folder.isValid());
        QCOMPARE(ProgramLock(folder.path()).acquire(), Result::Unavailable);
    }
};

QTEST_GUILESS_MAIN(TestProgramLock)
#include "tst_programlock.moc"
