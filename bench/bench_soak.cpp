// A long run of the real program with no window: `sondrel --no-window` at no interval against 127.0.0.1 with the
// page check on against a local web server, the page's text taken away and put back every 10,000 checks so that
// a notification goes to a local SMTP server (aiosmtpd) each time. For each stretch of 10,000 checks it prints
// the checks per second, the program's resident memory and its open file descriptors; at the end, the numbered
// log's lines against the checks run and whether the sanitizers reported anything. Prints figures; never fails.
//
// bench_soak [CHECKS] [--program PATH]: PATH is the sondrel binary to soak (default: the one beside this
// benchmark); give the testing build's binary to run it under AddressSanitizer with leak detection.
#include "BenchSupport.h"
#include "mail/EmailSettings.h"
#include "store/FixedText.h"
#include "store/SiteSettings.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <cstdio>

using namespace sondrel;

namespace {

constexpr int kStretch = 10000;
const QByteArray kMarker = "soak marker";

qsizetype openDescriptors(qint64 pid)
{
    return QDir(QStringLiteral("/proc/%1/fd").arg(pid)).entryList(QDir::NoDotAndDotDot | QDir::AllEntries).size();
}

// Starts a helper process and returns the first line it prints (its port), or empty text.
QByteArray startPeer(QProcess& process, const QString& program, const QStringList& arguments)
{
    process.start(program, arguments);
    if (!bench::waitFor([&] { return process.canReadLine() || process.state() == QProcess::NotRunning; }, 15000))
        return {};
    return process.readLine().trimmed();
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication application(argc, argv);
    int checks = 200000;
    QString program = QCoreApplication::applicationDirPath() + QStringLiteral("/sondrel");
    for (int i = 1; i < argc; ++i) {
        if (QByteArray(argv[i]) == "--program" && i + 1 < argc)
            program = QString::fromLocal8Bit(argv[++i]);
        else
            checks = QByteArray(argv[i]).toInt();
    }
    const QString sourceDir = QCoreApplication::applicationDirPath() + QStringLiteral("/../../..");

    QTemporaryDir folder;
    QTemporaryDir site;
    QTemporaryDir spool;
    QDir(folder.path()).mkpath(QStringLiteral("data"));
    QDir(folder.path()).mkpath(QStringLiteral("logs"));
    const QString copy = folder.filePath(QStringLiteral("sondrel"));
    if (!QFile::copy(program, copy)) {
        std::printf("cannot copy %s\n", qPrintable(program));
        return 1;
    }
    auto publish = [&](bool withMarker) {
        QFile page(site.filePath(QStringLiteral("index.html")));
        page.open(QIODevice::WriteOnly);
        page.write("<html><body><h1>" + (withMarker ? kMarker : QByteArray("nothing here")) + "</h1></body></html>");
    };
    publish(true);

    QProcess web;
    QProcess smtp;
    const QByteArray webLine = startPeer(
        web, QStringLiteral("python3"),
        {QStringLiteral("-c"),
         QStringLiteral(
             "import functools, http.server, sys\n"
             "class H(http.server.SimpleHTTPRequestHandler):\n"
             "    def log_message(self, *a): pass\n"
             "s = http.server.ThreadingHTTPServer(('127.0.0.1', 0), functools.partial(H, directory=sys.argv[1]))\n"
             "print(s.server_address[1], flush=True)\n"
             "s.serve_forever()\n"),
         site.path()});
    const QByteArray smtpLine = startPeer(smtp, QStringLiteral("/usr/bin/python3"),
                                          {sourceDir + QStringLiteral("/tests/mail/smtp_sink.py"), spool.path()});
    if (webLine.isEmpty() || smtpLine.isEmpty()) {
        std::printf("the web or SMTP server did not start\n");
        return 1;
    }

    store::SiteSettings site1;
    site1.webAddress = QStringLiteral("127.0.0.1:") + QString::fromLatin1(webLine);
    site1.packetString = QStringLiteral("Soak");
    site1.interval = store::intervalToStore(QStringLiteral("-1")); // no wait between checks
    site1.mainSiteString = QString::fromLatin1(kMarker);
    site1.connectionType = store::storedBool(true);
    site1.checkMainPage = store::storedBool(true);
    site1.emailNotification = store::storedBool(true);
    store::SiteSettingsFile(folder.path()).save(1, site1);
    mail::EmailSettingsFile(folder.path())
        .save({QStringLiteral("127.0.0.1:") + QString::fromLatin1(smtpLine), "Soak", "soak@example.test", "Owner",
               "owner@example.test", "Soak", "The page changed.", 0, 0});

    QProcess run;
    run.start(copy, {QStringLiteral("--no-window")});
    if (!run.waitForStarted(10000)) {
        std::printf("the program did not start\n");
        return 1;
    }
    qint64 lines = 0;
    QByteArray partial;
    QElapsedTimer clock;
    clock.start();
    qint64 stretchStart = 0;
    bool marker = true;
    std::printf("%8s %12s %12s %6s\n", "checks", "checks/s", "memory kB", "fds");
    QList<double> rates;
    QList<qint64> memory;
    QList<qsizetype> descriptors;
    QObject::connect(&run, &QProcess::readyReadStandardOutput, [&] {
        partial += run.readAllStandardOutput();
        const qsizetype end = partial.lastIndexOf('\n');
        if (end < 0)
            return;
        const qint64 before = lines;
        lines += partial.left(end + 1).count('\n');
        partial.remove(0, end + 1);
        if (lines / kStretch == before / kStretch)
            return;
        const qint64 now = clock.nsecsElapsed();
        const double rate = double(kStretch) / (double(now - stretchStart) / 1e9);
        stretchStart = now;
        rates.append(rate);
        memory.append(bench::statusKb("VmRSS", QString::number(run.processId())));
        descriptors.append(openDescriptors(run.processId()));
        std::printf("%8lld %12.0f %12lld %6lld\n", static_cast<long long>(lines / kStretch * kStretch), rate,
                    static_cast<long long>(memory.last()), static_cast<long long>(descriptors.last()));
        std::fflush(stdout);
        marker = !marker;
        publish(marker);
    });
    bench::waitFor([&] { return lines >= checks || run.state() == QProcess::NotRunning; }, 3600 * 1000);
    run.terminate();
    bench::waitFor([&] { return run.state() == QProcess::NotRunning; }, 60000);
    lines += partial.count('\n') + run.readAllStandardOutput().count('\n');

    QFile log(folder.filePath(QStringLiteral("logs/000001.log")));
    const qint64 logged = log.open(QIODevice::ReadOnly) ? log.readAll().count('\n') : -1;
    const QByteArray errors = run.readAllStandardError();
    const qsizetype mails = QDir(spool.path()).entryList({QStringLiteral("*.eml")}, QDir::Files).size();
    std::printf("\nchecks run %lld, lines in the numbered log %lld, exit status %d, notifications received %lld\n",
                static_cast<long long>(lines), static_cast<long long>(logged), run.exitCode(),
                static_cast<long long>(mails));
    if (memory.size() >= 2) {
        std::printf("memory at the last stretch minus at the second: %lld kB (goal within 5120 kB)\n",
                    static_cast<long long>(memory.last() - memory.value(1)));
        std::printf("checks per second, last stretch against the first: %.2f (goal >= 0.9)\n",
                    rates.last() / rates.first());
        std::printf("open file descriptors: first %lld, last %lld\n", static_cast<long long>(descriptors.first()),
                    static_cast<long long>(descriptors.last()));
    }
    std::printf("sanitizer reports: %s\n", errors.contains("Sanitizer") ? "YES (see below)" : "none");
    if (errors.contains("Sanitizer"))
        std::printf("%s\n", errors.right(4000).constData());
    smtp.closeWriteChannel();
    web.kill();
    smtp.waitForFinished(5000);
    web.waitForFinished(5000);
    return 0;
}
