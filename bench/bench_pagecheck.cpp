// Fetches and searches pages of 10, 50 and 200 MB served from loopback, the text to find at the very
// end, and compares with `curl -s URL | grep -Fqi TEXT` on the same pages in the same run. Prints
// the times, their ratio, the time per megabyte (to show how it grows with size) and how far the
// process's resident memory rose while a page was fetched. Last, the whole program as a user has it: a fresh
// process with the main window shown (on the X display, else off screen) starts a run whose first check
// fetches the 200 MB page, and its peak resident size is read from outside.

#include "BenchSupport.h"
#include "app/MainWindow.h"
#include "platform/QtHttpClient.h"
#include "probe/PageCheck.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>

using namespace sondrel;

namespace {

constexpr int kRuns = 3;
const QByteArray kText = "Sondrel Bench Marker 7731";

// A server that hands files over with sendfile, so it is not what is measured.
const char* const kServer = R"(
import functools, http.server, sys
class Handler(http.server.SimpleHTTPRequestHandler):
    def copyfile(self, source, outputfile):
        self.connection.sendfile(source)
    def log_message(self, *args):
        pass
server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), functools.partial(Handler, directory=sys.argv[1]))
print(f"PORT {server.server_address[1]}", flush=True)
server.serve_forever()
)";

// Writes sizeMb megabytes of words, ending with the text in other letter case.
bool writePage(const QString& path, int sizeMb)
{
    static const char* const words[] = {"status",  "site",  "server", "monitor", "page",    "Response", "uptime",
                                        "network", "check", "<div>",  "</div>",  "latency", "sample",   "Report"};
    QByteArray block;
    QRandomGenerator random(42);
    while (block.size() < (1 << 20) - 64) {
        block += words[random.bounded(int(std::size(words)))];
        block += random.bounded(12) == 0 ? '\n' : ' ';
    }
    block.resize(1 << 20, ' ');
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    for (int i = 0; i < sizeMb; ++i)
        file.write(block);
    file.seek(file.size() - kText.size() - 1);
    file.write(kText.toUpper() + "\n");
    return file.error() == QFile::NoError;
}

// A field of /proc/PID/status in kB ("self": this process); field ends with its colon, such as "VmRSS:".
qint64 statusKb(const char* field, const QString& process = QStringLiteral("self"))
{
    QFile status(QStringLiteral("/proc/%1/status").arg(process));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith(field))
            return line.mid(qstrlen(field)).trimmed().split(' ').first().toLongLong();
    }
    return -1;
}

// Lets the peak resident size start again from the current one.
void resetPeakMemory()
{
    QFile clear(QStringLiteral("/proc/self/clear_refs"));
    if (clear.open(QIODevice::WriteOnly))
        clear.write("5");
}

double curlWithGrep(const QString& url)
{
    QProcess shell;
    QElapsedTimer timer;
    timer.start();
    shell.start("sh", {"-c", QStringLiteral("curl -s '%1' | grep -Fqi '%2'").arg(url, QString::fromLatin1(kText))});
    shell.waitForFinished(-1);
    const double seconds = timer.nsecsElapsed() / 1e9;
    return shell.exitCode() == 0 ? seconds : -1;
}

double pageCheck(probe::PageCheck& page, const QString& url)
{
    QEventLoop loop;
    QString token;
    QElapsedTimer timer;
    timer.start();
    page.gethtml(url, QString::fromLatin1(kText), [&](const QString& t) {
        token = t;
        loop.quit();
    });
    loop.exec();
    const double seconds = timer.nsecsElapsed() / 1e9;
    return token == probe::kTokenOk ? seconds : -1;
}

// Run as a child: the program with its main window shown starts a run on the site at address whose first
// check fetches its page and looks for the text. It tells its parent its resident size once the window is up,
// and the first result line once the check is over, so that the parent can read the child's peak resident size
// from outside. It ends when its input closes.
int checkOnceAsChild(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    bench::BenchProgram program;
    app::MainWindow& window = *program.window;
    window.show();
    bench::control<QLineEdit>(window, "Text1")->setText(QString::fromLocal8Bit(argv[2]));
    bench::control<QLineEdit>(window, "Text5")->setText(QStringLiteral("3600"));
    bench::control<QLineEdit>(window, "Text7")->setText(QString::fromLatin1(kText));
    bench::control<QRadioButton>(window, "Option5")->setChecked(true);
    bench::control<QRadioButton>(window, "Option4")->setChecked(true);
    bench::waitFor([] { return false; }, 500); // the window drawn and settled
    std::printf("READY %lld\n", statusKb("VmRSS:"));
    std::fflush(stdout);
    bench::control<QPushButton>(window, "Command1")->click();
    bench::waitFor([&] { return bench::resultCount(window) > 0; }, 120000);
    const QStringList lines = bench::resultLines(window);
    std::printf("DONE %d %s\n", lines.isEmpty() || !lines.first().endsWith(QStringLiteral(" WSOK")) ? 0 : 1,
                qPrintable(lines.value(0)));
    std::fflush(stdout);
    QFile input;
    input.open(stdin, QIODevice::ReadOnly);
    input.readAll();
    return 0;
}

// The peak resident size of the program with its window during the first check of the page at address, less
// its resident size with the window up just before that check: what the check costs as a user's program sees
// it, first request included.
qint64 peakRiseFromOutside(const QString& address)
{
    QProcess child;
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--child"), address});
    auto lineStarting = [&](const QByteArray& prefix) -> QByteArray {
        while (child.state() != QProcess::NotRunning) {
            if (child.canReadLine()) {
                const QByteArray line = child.readLine().trimmed();
                if (line.startsWith(prefix))
                    return line.mid(prefix.size());
                continue;
            }
            child.waitForReadyRead(60000);
        }
        return {};
    };
    const qint64 before = lineStarting("READY ").toLongLong();
    const QByteArray done = lineStarting("DONE ");
    const bool found = done.startsWith("1 ");
    if (!found)
        std::printf("the check did not find the text: %s\n", done.constData());
    const qint64 peak = statusKb("VmHWM:", QString::number(child.processId()));
    child.closeWriteChannel();
    child.waitForFinished(10000);
    return found && before > 0 && peak > 0 ? peak - before : -1;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 3 && QByteArray(argv[1]) == "--child")
        return checkOnceAsChild(argc, argv);
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    const QList<int> sizes = {10, 50, 200};
    for (const int size : sizes) {
        if (!writePage(dir.filePath(QStringLiteral("page%1.html").arg(size)), size)) {
            std::printf("cannot write the %d MB page in %s\n", size, qPrintable(dir.path()));
            return 1;
        }
    }
    writePage(dir.filePath(QStringLiteral("warmup.html")), 1);

    QProcess server;
    server.start("python3", {"-c", kServer, dir.path()});
    while (!server.canReadLine() && server.waitForReadyRead(10000)) {
    }
    const QByteArray line = server.readLine().trimmed();
    if (!line.startsWith("PORT ")) {
        std::printf("the page server did not start\n");
        return 1;
    }
    const QString base = QStringLiteral("http://127.0.0.1:%1/").arg(QString::fromLatin1(line.mid(5)));

    platform::QtHttpClient http;
    probe::PageCheck page(http, std::chrono::minutes(10));
    pageCheck(page, base + "warmup.html");
    std::printf("best of %d runs; text at the end of the page; resident memory at start %lld kB\n\n", kRuns,
                statusKb("VmRSS:"));
    std::printf("%8s %12s %12s %7s %13s %13s %15s\n", "size MB", "curl|grep s", "check s", "ratio", "curl ms/MB",
                "check ms/MB", "memory rise kB");
    for (const int size : sizes) {
        const QString url = base + QStringLiteral("page%1.html").arg(size);
        double curl = 1e9, check = 1e9;
        qint64 rise = 0;
        for (int run = 0; run < kRuns; ++run) {
            curl = std::min(curl, curlWithGrep(url));
            const qint64 before = statusKb("VmRSS:");
            resetPeakMemory();
            check = std::min(check, pageCheck(page, url));
            rise = std::max(rise, statusKb("VmHWM:") - before);
        }
        if (curl < 0 || check < 0) {
            std::printf("%8d the text was not found (curl %s, check %s)\n", size, curl < 0 ? "failed" : "ok",
                        check < 0 ? "failed" : "ok");
            continue;
        }
        std::printf("%8d %12.3f %12.3f %7.2f %13.2f %13.2f %15lld\n", size, curl, check, check / curl,
                    curl * 1000 / size, check * 1000 / size, rise);
    }
    // The site's address names no page: its main page is the 200 MB one.
    QFile::link(dir.filePath(QStringLiteral("page200.html")), dir.filePath(QStringLiteral("index.html")));
    const qint64 outside = peakRiseFromOutside(QStringLiteral("127.0.0.1:") + QString::fromLatin1(line.mid(5)));
    std::printf("\n200 MB page, first check of a run in a fresh program with its main window shown (%s), measured "
                "from outside: peak resident size %lld kB above the size with the window up before Start (goal < "
                "20480 kB)\n",
                qEnvironmentVariableIsEmpty("DISPLAY") ? "off screen" : "X display", outside);
    server.kill();
    server.waitForFinished();
    return 0;
}
