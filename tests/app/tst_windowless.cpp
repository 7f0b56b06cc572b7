#include "core/NotificationQueue.h"
#include "mail/EmailSettings.h"
#include "platform/QtTcpSocket.h"
#include "probe/ResultLine.h"
#include "store/FixedText.h"
#include "store/SiteSettings.h"
#include "support/FakeSmtpServer.h"
#include "support/Fakes.h"
#include "support/MiniHttpServer.h"
#include "support/PrivateNetwork.h"
#include "support/ProgramFolder.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QMap>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTest>

#include <algorithm>
#include <csignal>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace sondrel;

// The program run as a user runs it on a server: `sondrel --no-window`, with no display at all.
class TestWindowless : public QObject {
    Q_OBJECT
private:
    std::unique_ptr<QTemporaryDir> m_dir;

    // A copy of the program in a program folder of its own, so that its files are the test's.
    QString program() const { return m_dir->filePath(QStringLiteral("sondrel")); }
    void saveSite(int slot, const QString& address, const QString& packet = QStringLiteral("Are you there?"),
                  qint16 interval = 1)
    {
        store::SiteSettings site;
        site.webAddress = address;
        site.packetString = packet;
        site.interval = interval;
        site.connectionType = store::storedBool(true);
        QVERIFY(store::SiteSettingsFile(m_dir->path()).save(slot, site));
    }
    // Slot 1 checks a page on loopback that lacks its text, so the first check e-mails through smtpHost.
    void saveFailingPageSite(const test::MiniHttpServer& page, const QString& smtpHost)
    {
        store::SiteSettings site;
        site.webAddress = QStringLiteral("127.0.0.1:%1").arg(page.url().port());
        site.packetString = QStringLiteral("Are you there?");
        site.interval = 1;
        site.mainSiteString = QStringLiteral("welcome");
        site.connectionType = store::storedBool(true);
        site.emailNotification = store::storedBool(true);
        site.checkMainPage = store::storedBool(true);
        QVERIFY(store::SiteSettingsFile(m_dir->path()).save(1, site));
        QVERIFY(mail::EmailSettingsFile(m_dir->path())
                    .save({smtpHost, "Watcher", "me@example.org", "Ops", "ops@example.org", "Site status",
                           "The page changed.", 0, 0}));
    }
    static void serveGonePage(test::MiniHttpServer& page)
    {
        page.onRequest = [](QTcpSocket* socket, const QByteArray&) {
            socket->write(test::MiniHttpServer::response("HTTP/1.1 200 OK", "<p>Gone</p>"));
            socket->disconnectFromHost();
        };
    }
    static int messagesIn(const QList<QByteArray>& commands)
    {
        return int(std::count_if(commands.begin(), commands.end(),
                                 [](const QByteArray& command) { return command.startsWith("From:"); }));
    }
    // With a window, it is drawn off screen; without one, there is no display at all.
    void start(QProcess& process, const QStringList& arguments, bool window = false, QString command = {})
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
            environment.remove(QString::fromLatin1(name));
        if (window)
            environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        process.setProcessEnvironment(environment);
        process.start(command.isEmpty() ? program() : command, arguments);
        QVERIFY(process.waitForStarted(10000));
    }
    // Whether the process has a handler of its own for the signal (its SigCgt mask in /proc).
    static bool catches(const QProcess& process, int number)
    {
        QFile status(QStringLiteral("/proc/%1/status").arg(process.processId()));
        if (!status.open(QIODevice::ReadOnly))
            return false;
        for (const QByteArray& line : status.readAll().split('\n')) {
            if (line.startsWith("SigCgt:"))
                return (line.mid(7).trimmed().toULongLong(nullptr, 16) >> (number - 1)) & 1;
        }
        return false;
    }
    static bool finish(QProcess& process)
    {
        if (process.state() == QProcess::NotRunning)
            return true;
        QSignalSpy finished(&process, &QProcess::finished);
        return finished.wait(20000);
    }
    // Reads the whole lines printed so far, each "[N] text", into lines by site N, less the prefix; a line without
    // one is filed under 0.
    static void readSiteLines(QProcess& process, QMap<int, QStringList>& lines)
    {
        static const QRegularExpression prefixed(QStringLiteral("^\\[([0-9]+)\\] (.*)$"));
        while (process.canReadLine()) {
            const QString line = QString::fromLocal8Bit(process.readLine()).chopped(1);
            const QRegularExpressionMatch match = prefixed.match(line);
            if (match.hasMatch())
                lines[match.captured(1).toInt()].append(match.captured(2));
            else
                lines[0].append(line);
        }
    }
    // Runs --all-sites over saved sites 1 to 3 until each has printed two lines (two `counted` lines when given),
    // then SIGTERM: the program ends with status 0 after printing for exactly those sites.
    void watchAllSitesUntilTerminated(QProcess& process, QMap<int, QStringList>& lines, const QString& counted)
    {
        start(process, {QStringLiteral("--no-window"), QStringLiteral("--all-sites")});
        const auto enough = [&](int site) {
            return (counted.isEmpty() ? lines.value(site).size() : lines.value(site).count(counted)) >= 2;
        };
        QTRY_VERIFY_WITH_TIMEOUT((readSiteLines(process, lines), enough(1) && enough(2) && enough(3)), 20000);
        process.terminate();
        QVERIFY(finish(process));
        QCOMPARE(process.exitCode(), 0);
        readSiteLines(process, lines);
        QCOMPARE(lines.keys(), (QList<int>{1, 2, 3}));
    }
    // Each site's printed lines are its checks from 000001 on, each of the kind `expected` names, and its numbered
    // log `log` holds every one of them.
    void verifySiteLines(const QMap<int, QStringList>& lines, int site, const QString& expected, int log = 1)
    {
        const QStringList printed = lines.value(site);
        QVERIFY2(printed.size() >= 2, qPrintable(QString::number(site)));
        for (qsizetype i = 0; i < printed.size(); ++i) {
            const QString& line = printed[i];
            QVERIFY2(line.startsWith(probe::recordNumberFor(QString::number(i + 1)) + u' ') && line.contains(expected),
                     qPrintable(QStringLiteral("[%1] %2").arg(site).arg(line)));
        }
        QFile file(m_dir->filePath(QStringLiteral("logs/site-%1/%2.log").arg(site).arg(log, 6, 10, QLatin1Char('0'))));
        QVERIFY2(file.open(QIODevice::ReadOnly), qPrintable(file.fileName()));
        QCOMPARE(file.readAll().count('\n'), printed.size());
    }

private slots:
    void init()
    {
        m_dir = test::newProgramFolder();
        QVERIFY(m_dir->isValid());
        QVERIFY(QFile::copy(qEnvironmentVariable("SONDREL_PROGRAM"), program()));
    }

    void realRun_printsEachLine_andSigtermStopsIt()
    {
        saveSite(2, QStringLiteral("127.0.0.1"));
        QProcess process;
        start(process, {QStringLiteral("--no-window"), QStringLiteral("--site"), QStringLiteral("2")});
        QStringList lines;
        QTRY_VERIFY_WITH_TIMEOUT(
            (lines += QString::fromLocal8Bit(process.readAllStandardOutput()).split(u'\n', Qt::SkipEmptyParts),
             lines.size() >= 2),
            20000);
        for (const QString& line : lines)
            QVERIFY2(line.contains(QStringLiteral(" Trip Time=")), qPrintable(line));
        QVERIFY(lines[0].startsWith(QStringLiteral("000001 ")) && lines[1].startsWith(QStringLiteral("000002 ")));

        process.terminate();
        QVERIFY(finish(process));
        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(process.exitCode(), 0);
        QCOMPARE(process.readAllStandardError().trimmed(), QByteArray("Scan Stopped"));
        lines += QString::fromLocal8Bit(process.readAllStandardOutput()).split(u'\n', Qt::SkipEmptyParts);
        QFile log(m_dir->filePath(QStringLiteral("logs/000001.log")));
        QVERIFY(log.open(QIODevice::ReadOnly));
        QCOMPARE(log.readAll().count('\n'), lines.size()); // every printed line was logged
    }

    // A program killed while the server holds its first attempt at DATA has already put the notification in the
    // outbox; what starts next on the same folder sends it.
    void killedDuringTheFirstAttempt_notificationSentAfterTheRestart()
    {
        QList<test::FakeSmtpServer::Reply> holding = test::FakeSmtpServer::acceptingScript();
        holding[4] = {}; // DATA is never answered
        test::FakeSmtpServer server(holding);
        test::MiniHttpServer page;
        serveGonePage(page);
        saveFailingPageSite(page, server.address());
        QProcess process;
        start(process, {QStringLiteral("--no-window")});
        QTRY_VERIFY_WITH_TIMEOUT(server.commands.contains("DATA\r\n"), 20000);
        process.kill();
        QVERIFY(finish(process));
        const QDir outbox(m_dir->filePath(QStringLiteral("data/outbox")));
        QCOMPARE(outbox.entryList({QStringLiteral("*.json")}, QDir::Files).size(), 1);
        QCOMPARE(messagesIn(server.commands), 0);

        server.script = test::FakeSmtpServer::acceptingScript();
        test::FakeSystem system;
        platform::QtTcpSocketFactory sockets;
        system.tcp = &sockets;
        core::NotificationQueue restarted(system.services(), m_dir->path());
        restarted.setRetryCheckInterval(20);
        QTRY_COMPARE_WITH_TIMEOUT(messagesIn(server.commands), 1, 20000);
        QTRY_VERIFY_WITH_TIMEOUT(outbox.entryList(QDir::Files).isEmpty(), 10000);
        QCOMPARE(server.connections, 2);
    }

    // A greeting too long to be a server's ends the notification with an error: the run prints its next lines
    // and SIGTERM still stops it.
    void greetingTooLong_runGoesOn_andSigtermStopsIt()
    {
        test::FakeSmtpServer server({{"220 " + QByteArray(5000, 'A') + "\r\n"}});
        test::MiniHttpServer page;
        serveGonePage(page);
        saveFailingPageSite(page, server.address());
        QProcess process;
        start(process, {QStringLiteral("--no-window")});
        QTRY_COMPARE_WITH_TIMEOUT(server.connections, 1, 20000);
        QStringList lines;
        QTRY_VERIFY_WITH_TIMEOUT(
            (lines += QString::fromLocal8Bit(process.readAllStandardOutput()).split(u'\n', Qt::SkipEmptyParts),
             lines.size() >= 3),
            20000);
        process.terminate();
        QVERIFY(finish(process));
        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(process.exitCode(), 0);
    }

    // Two copies on one folder would write the same logs: the second one leaves every file as it is. A copy
    // that was killed leaves a lock that the next one takes over.
    void secondCopy_refusesWithoutTouchingAFile_andAStaleLockGivesWay()
    {
        saveSite(1, QStringLiteral("127.0.0.1"));
        QProcess first;
        start(first, {QStringLiteral("--no-window")});
        QTRY_VERIFY_WITH_TIMEOUT(first.canReadLine(), 20000);
        const auto files = [this] {
            QStringList listing;
            for (const char* sub : {"data", "logs"}) {
                const QDir folder(m_dir->filePath(QString::fromLatin1(sub)));
                for (const QFileInfo& file : folder.entryInfoList(QDir::Files, QDir::Name))
                    listing.append(file.fileName() + u' ' + QString::number(file.size()) + u' ' +
                                   file.lastModified().toString(Qt::ISODateWithMs));
            }
            return listing;
        };
        const QStringList before = files();

        QProcess second;
        start(second, {QStringLiteral("--no-window")});
        QVERIFY(finish(second));
        QCOMPARE(second.exitCode(), 2);
        const QString said = QString::fromLocal8Bit(second.readAllStandardError());
        QVERIFY2(said.contains(QStringLiteral("already running from ") + m_dir->path()), qPrintable(said));
        QVERIFY(second.readAllStandardOutput().isEmpty());
        first.kill(); // no chance to tidy up: its lock stays behind
        QVERIFY(finish(first));
        QStringList after = files();
        QCOMPARE(after.filter(QStringLiteral("log.dat")), before.filter(QStringLiteral("log.dat")));
        QCOMPARE(after.filter(QStringLiteral(".log ")).size(), 2); // 000001.log and tmp.log, no new log

        QProcess third;
        start(third, {QStringLiteral("--no-window")});
        QTRY_VERIFY_WITH_TIMEOUT(third.canReadLine(), 20000);
        third.terminate();
        QVERIFY(finish(third));
        QCOMPARE(third.exitCode(), 0);
    }

    // Output read by `head` and the like: once the reader has gone the run stops as on SIGTERM, whether it is
    // between checks for an hour or about to print its next line.
    void closedOutput_stopsTheRunWithStatus3_data()
    {
        QTest::addColumn<qint16>("interval");
        QTest::newRow("waiting an hour") << qint16(3600);
        QTest::newRow("a check every second") << qint16(1);
    }
    void closedOutput_stopsTheRunWithStatus3()
    {
        QFETCH(qint16, interval);
        saveSite(1, QStringLiteral("127.0.0.1"), QStringLiteral("Are you there?"), interval);
        QProcess pipeline;
        const QString script = QStringLiteral("\"$0\" --no-window | head -1; echo \"status ${PIPESTATUS[0]}\" >&2");
        start(pipeline, {QStringLiteral("-c"), script, program()}, false, QStringLiteral("bash"));
        QVERIFY(finish(pipeline));
        QVERIFY(pipeline.readAllStandardOutput().startsWith("000001 "));
        QCOMPARE(pipeline.readAllStandardError(), QByteArray("Scan Stopped\nstatus 3\n"));
        QFile log(m_dir->filePath(QStringLiteral("logs/000001.log")));
        QVERIFY(log.open(QIODevice::ReadOnly));
        QVERIFY(log.readAll().startsWith("\"000001 "));
    }

    // A closed terminal, a logout or a service manager ends the window as Exit does: a normal end that gives up
    // the lock, so the next start is not refused.
    void windowMode_endsOnEachTerminationSignal_asExitDoes_data()
    {
        QTest::addColumn<int>("number");
        QTest::newRow("SIGTERM") << int(SIGTERM);
        QTest::newRow("SIGINT") << int(SIGINT);
        QTest::newRow("SIGHUP") << int(SIGHUP);
    }
    void windowMode_endsOnEachTerminationSignal_asExitDoes()
    {
        QFETCH(int, number);
        QProcess process;
        start(process, {}, true);
        QTRY_VERIFY_WITH_TIMEOUT(catches(process, number), 20000);
        QVERIFY(::kill(pid_t(process.processId()), number) == 0);
        QVERIFY(finish(process));
        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(process.exitCode(), 0);
        QVERIFY(!QFileInfo::exists(m_dir->filePath(QStringLiteral("data/sondrel.lock"))));
    }

    // A lock file that no running copy holds does not stop a start; one that cannot be a lock is named, with what
    // to do. Either way it is one line and status 2 here: with no address saved the start then stops on that.
    void lockNoCopyHolds_givesWay_andOneThatCannotBeALockIsNamed_data()
    {
        QTest::addColumn<bool>("folder");
        QTest::addColumn<QString>("error");
        QTest::newRow("empty lock file") << false << "You have not entered a web url to check!";
        QTest::newRow("folder in its place") << true << "/data/sondrel.lock is a folder";
    }
    void lockNoCopyHolds_givesWay_andOneThatCannotBeALockIsNamed()
    {
        QFETCH(bool, folder);
        QFETCH(QString, error);
        const QString lock = m_dir->filePath(QStringLiteral("data/sondrel.lock"));
        if (folder) {
            QVERIFY(QDir().mkdir(lock));
            error.prepend(m_dir->path());
        } else {
            QFile empty(lock);
            QVERIFY(empty.open(QIODevice::WriteOnly));
        }
        QProcess process;
        start(process, {QStringLiteral("--no-window")});
        QVERIFY(finish(process));
        QCOMPARE(process.exitCode(), 2);
        const QString said = QString::fromLocal8Bit(process.readAllStandardError()).trimmed();
        QVERIFY2(said.startsWith(error) && !said.contains(u'\n'), qPrintable(said));
        QCOMPARE(QFileInfo::exists(m_dir->filePath(QStringLiteral("logs/000001.log"))), !folder);
    }

    void refusedStartOrBadOption_endsWithStatus2AndOneLine_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("error");
        QTest::newRow("no address saved") << QStringList{"--no-window"} << "You have not entered a web url to check!";
        QTest::newRow("unknown option") << QStringList{"--no-window", "--verbose"} << "unknown option";
        QTest::newRow("site out of range") << QStringList{"--no-window", "--site=32768"} << "from 1 to 32767";
        QTest::newRow("site 0") << QStringList{"--no-window", "--site", "1", "--site", "0"} << "from 1 to 32767";
        QTest::newRow("site given twice")
            << QStringList{"--no-window", "--site", "2", "--site=2"} << "--site 2 is given more than once";
        QTest::newRow("all sites and a site")
            << QStringList{"--no-window", "--all-sites", "--site", "1"} << "leave out --site";
        QTest::newRow("several sites, window") << QStringList{"--site", "1", "--site", "2"} << "only with --no-window";
        QTest::newRow("all sites, the only saved one refused")
            << QStringList{"--no-window", "--all-sites"} << "[3] The packet string is 251 characters long";
        QTest::newRow("slot missing") << QStringList{"--site"} << "--site needs";
        QTest::newRow("unknown option, window") << QStringList{"--bogus"} << "unknown option";
        QTest::newRow("packet too long to echo")
            << QStringList{"--no-window", "--site", "3"} << "The packet string is 251 characters long; at most 250";
        // %P is a port the test holds.
        const QString inUse =
            QStringLiteral("Cannot serve metrics on 127.0.0.1:%P: The bound address is already in use");
        QTest::newRow("metrics port in use") << QStringList{"--no-window", "--metrics", "%P"} << inUse;
        QTest::newRow("metrics port in use, several sites")
            << QStringList{"--no-window", "--site", "1", "--site", "2", "--metrics=:%P"} << inUse;
        QTest::newRow("metrics port in use, window") << QStringList{"--metrics", "127.0.0.1:%P"} << inUse;
        QTest::newRow("metrics on a name")
            << QStringList{"--no-window", "--metrics", "example.org:80"} << "\"example.org\" is not an IP address";
        QTest::newRow("metrics without an address") << QStringList{"--metrics"} << "--metrics needs ADDRESS:PORT";
    }
    void refusedStartOrBadOption_endsWithStatus2AndOneLine()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, error);
        saveSite(3, QStringLiteral("127.0.0.1"), QString(251, u'p'));
        QTcpServer held;
        QVERIFY(held.listen(QHostAddress::LocalHost));
        const QString port = QString::number(held.serverPort());
        arguments.replaceInStrings(QStringLiteral("%P"), port);
        error.replace(QStringLiteral("%P"), port);
        QProcess process;
        start(process, arguments, !arguments.contains(QStringLiteral("--no-window")));
        QVERIFY(finish(process));
        QCOMPARE(process.exitCode(), 2);
        // Qt's own note about the runtime folder, under the window system, is not the program's.
        QStringList told = QString::fromLocal8Bit(process.readAllStandardError()).trimmed().split(u'\n');
        told.removeIf([](const QString& line) { return line.startsWith(u"QStandardPaths:"); });
        const QString said = told.join(u'\n');
        QVERIFY2(said.contains(error) && !said.contains(u'\n'), qPrintable(said));
        QVERIFY(process.readAllStandardOutput().isEmpty());
    }

    // Several sites at once: each is a run of its own with its logs in logs/site-N/, and every line and message it
    // prints begins with its number. A site that cannot start is named and the others run; SIGTERM ends them all.
    void severalSites_eachRunsWithItsOwnLogs_andSigtermEndsThemAll_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("refused");
        QTest::newRow("--site 1 --site 2 --site 3")
            << QStringList{"--no-window", "--site", "1", "--site", "2", "--site", "3"}
            << "[3] You have not entered a web url to check!";
        QTest::newRow("--all-sites") << QStringList{"--no-window", "--all-sites"}
                                     << "[5] The packet string is 251 characters long";
    }
    void severalSites_eachRunsWithItsOwnLogs_andSigtermEndsThemAll()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, refused);
        saveSite(1, QStringLiteral("127.0.0.1"));
        saveSite(2, QStringLiteral("127.0.0.2"));
        saveSite(5, QStringLiteral("127.0.0.1"), QString(251, u'p'));
        QProcess process;
        start(process, arguments);
        QMap<int, QStringList> lines;
        QTRY_VERIFY_WITH_TIMEOUT(
            (readSiteLines(process, lines), lines.value(1).size() >= 2 && lines.value(2).size() >= 2), 20000);
        process.terminate();
        QVERIFY(finish(process));
        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(process.exitCode(), 0);
        readSiteLines(process, lines);
        QCOMPARE(lines.keys(), (QList<int>{1, 2}));
        verifySiteLines(lines, 1, QStringLiteral(" Trip Time="));
        verifySiteLines(lines, 2, QStringLiteral(" Trip Time="));
        QVERIFY(!QFileInfo::exists(m_dir->filePath(QStringLiteral("logs/000001.log"))));
        QStringList said = QString::fromLocal8Bit(process.readAllStandardError()).split(u'\n', Qt::SkipEmptyParts);
        said.sort();
        QCOMPARE(said.size(), 3);
        QCOMPARE(said[0], QStringLiteral("[1] Scan Stopped"));
        QCOMPARE(said[1], QStringLiteral("[2] Scan Stopped"));
        QVERIFY2(said[2].startsWith(refused), qPrintable(said[2]));
    }

    void allSites_noneSaved_endsWithStatus2AndOneLine()
    {
        QProcess process;
        start(process, {QStringLiteral("--no-window"), QStringLiteral("--all-sites")});
        QVERIFY(finish(process));
        QCOMPARE(process.exitCode(), 2);
        const QString said = QString::fromLocal8Bit(process.readAllStandardError()).trimmed();
        QCOMPARE(said, QStringLiteral("No saved site has a web address in ") + m_dir->filePath("data/init.dat"));
        QVERIFY(process.readAllStandardOutput().isEmpty());
    }

    // Installed in a folder its user may not write to, the program keeps its files in that user's data home,
    // making the folders on its first start, and leaves its own folder as it was.
    void installedForAllUsers_keepsItsFilesInTheUsersDataHome()
    {
        if (::geteuid() != 0)
            QSKIP("needs root to run the program as another user");
        const passwd* nobody = ::getpwnam("nobody");
        QVERIFY(nobody);
        QTemporaryDir root;
        QVERIFY(root.isValid());
        const QString installed = root.filePath(QStringLiteral("bin"));
        const QString home = root.filePath(QStringLiteral("home"));
        QVERIFY(QDir(root.path()).mkpath(QStringLiteral("bin")) && QDir(root.path()).mkpath(QStringLiteral("home")));
        QVERIFY(QFile::copy(program(), installed + QStringLiteral("/sondrel")));
        QVERIFY(::chmod(QFile::encodeName(root.path()).constData(), 0755) == 0);
        QVERIFY(::chown(QFile::encodeName(home).constData(), nobody->pw_uid, nobody->pw_gid) == 0);

        // No saved site: the start makes a new log and is then refused, so it ends at once.
        QProcess process;
        QProcessEnvironment environment;
        environment.insert(QStringLiteral("HOME"), home);
        environment.insert(QStringLiteral("XDG_DATA_HOME"), home + QStringLiteral("/share"));
        process.setProcessEnvironment(environment);
        process.start(QStringLiteral("setpriv"),
                      {QStringLiteral("--reuid=nobody"), QStringLiteral("--regid=nogroup"),
                       QStringLiteral("--clear-groups"), installed + QStringLiteral("/sondrel"),
                       QStringLiteral("--no-window")});
        QVERIFY(process.waitForStarted(10000));
        QVERIFY(finish(process));
        const QString said = QString::fromLocal8Bit(process.readAllStandardError()).trimmed();
        QCOMPARE(process.exitCode(), 2);
        QCOMPARE(said, QStringLiteral("You have not entered a web url to check!"));

        const QString folder = home + QStringLiteral("/share/sondrel");
        QCOMPARE(QFileInfo(folder).ownerId(), nobody->pw_uid);
        QCOMPARE(QFile::permissions(folder), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadUser |
                                                 QFile::WriteUser | QFile::ExeUser);
        for (const char* file : {"data/log.dat", "logs/000001.log", "logs/tmp.log"})
            QVERIFY2(QFileInfo(folder + u'/' + QString::fromLatin1(file)).isFile(), file);
        QCOMPARE(QDir(installed).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList{"sondrel"});
    }

    void help_listsTheOptions()
    {
        QProcess process;
        start(process, {QStringLiteral("--help")});
        QVERIFY(finish(process));
        QCOMPARE(process.exitCode(), 0);
        const QByteArray help = process.readAllStandardOutput();
        QVERIFY(help.contains("--no-window") && help.contains("--site"));
    }

    // Inside a private network with no route out, the system reports no connection: that is told once, each site's
    // run tries again at its next check, and SIGTERM still ends them all. With a default route there, nftables drop
    // the echo replies of 127.0.0.3, whose lines tell the failure while the others answer. It comes last, since the
    // test stays in that network from here on.
    void severalSites_offlineToldOnce_andOneSiteNotAnswering_whileTheOthersAnswer()
    {
        const QString why = test::enterPrivateNetwork();
        if (!why.isEmpty())
            QSKIP(qPrintable(QStringLiteral("needs a private network namespace: ") + why));
        for (int site = 1; site <= 3; ++site)
            saveSite(site, QStringLiteral("127.0.0.%1").arg(site));
        const QString offline = QStringLiteral("Failed to connect to internet!");
        const auto sortedErrors = [](QProcess& process) {
            QStringList said = QString::fromLocal8Bit(process.readAllStandardError()).split(u'\n', Qt::SkipEmptyParts);
            said.sort();
            return said;
        };
        const QStringList stopped = {"[1] Scan Stopped", "[2] Scan Stopped", "[3] Scan Stopped"};
        {
            QProcess process;
            QMap<int, QStringList> lines;
            watchAllSitesUntilTerminated(process, lines, offline);
            if (QTest::currentTestFailed())
                return;
            for (const QStringList& printed : lines)
                QCOMPARE(printed.count(offline), printed.size());
            QCOMPARE(sortedErrors(process), QStringList{offline} + stopped);
        }

        // A default route over a veth pair makes the system report a connection; every echo still goes to loopback.
        const QString route = test::addDefaultRoute();
        QVERIFY2(route.isEmpty(), qPrintable(route));
        const QString rules = test::dropEchoRepliesFrom(QStringLiteral("127.0.0.3"));
        QVERIFY2(rules.isEmpty(), qPrintable(rules));
        const auto dropRules = qScopeGuard([] {
            test::runCommand(QStringLiteral("nft"), {QStringLiteral("delete"), QStringLiteral("table"),
                                                     QStringLiteral("ip"), QStringLiteral("site")});
        });
        QProcess process;
        QMap<int, QStringList> lines;
        watchAllSitesUntilTerminated(process, lines, {});
        if (QTest::currentTestFailed())
            return;
        verifySiteLines(lines, 1, QStringLiteral(" Trip Time="), 2);
        verifySiteLines(lines, 2, QStringLiteral(" Trip Time="), 2);
        verifySiteLines(lines, 3, probe::kFailureText, 2);
        QCOMPARE(sortedErrors(process), stopped);
    }
};

QTEST_GUILESS_MAIN(TestWindowless)
#include "tst_windowless.moc"
