#pragma once

#include "app/MainWindow.h"
#include "platform/Services.h"
#include "platform/SystemServices.h"
#include "support/Controls.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QLineEdit>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>
#include <QTimer>

#include <sched.h>
#include <sys/resource.h>
#include <unistd.h>

#include <functional>
#include <memory>

namespace sondrel::bench {

// Message boxes that record what was shown and when, and never wait for a user.
class RecordingMessageBoxes final : public platform::MessageBoxes {
public:
    void show(const QString& text, const QString&, platform::MessageIcon) override
    {
        shown.append(text);
        if (onShow)
            onShow(text);
    }
    QStringList shown;
    std::function<void(const QString&)> onShow;
};

// No desktop to open documents with.
class NoShell final : public platform::DesktopShell {
public:
    OpenResult openDocument(const QString&) override { return OpenResult::Failed; }
};

using test::control;
using test::resultLines;

// The number of lines in the main window's result list.
inline int resultCount(const QObject& window)
{
    return control<QListView>(window, "List1")->model()->rowCount();
}

// Runs the event loop until ready() holds or timeoutMs has passed; true when ready() held. The loop sleeps
// until the next event, so the waiting itself costs no processor time.
template <typename Ready> bool waitFor(Ready ready, int timeoutMs)
{
    QTimer deadline;
    deadline.setSingleShot(true);
    deadline.start(timeoutMs);
    while (!ready()) {
        if (!deadline.isActive())
            return false;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    return true;
}

// Runs the event loop for the given time.
inline void runFor(int milliseconds)
{
    QEventLoop loop;
    QTimer::singleShot(milliseconds, Qt::PreciseTimer, &loop, &QEventLoop::quit);
    loop.exec();
}

// The program on the real system in a fresh folder, set to watch 127.0.0.1 without hanging up after checks.
struct BenchProgram {
    QTemporaryDir dir;
    platform::SystemServices system;
    RecordingMessageBoxes messages;
    NoShell shell;
    std::unique_ptr<app::MainWindow> window;

    BenchProgram()
    {
        QDir(dir.path()).mkpath(QStringLiteral("data"));
        QDir(dir.path()).mkpath(QStringLiteral("logs"));
        window = std::make_unique<app::MainWindow>(system.services(messages, shell), dir.path());
        control<QLineEdit>(*window, "Text1")->setText(QStringLiteral("127.0.0.1"));
        control<QCheckBox>(*window, "Check2")->setChecked(false);
    }
};

// Moves this process into a new network namespace with loopback up and the host's ping socket permission, so
// that the program opens the same kind of ICMP socket as it would outside. Must run before any thread starts.
inline QString enterPrivateNetwork()
{
    QFile hostRange(QStringLiteral("/proc/sys/net/ipv4/ping_group_range"));
    const QByteArray range = hostRange.open(QIODevice::ReadOnly) ? hostRange.readAll().trimmed() : QByteArray();
    if (::geteuid() != 0)
        return QStringLiteral("not root");
    if (::unshare(CLONE_NEWNET) != 0)
        return QStringLiteral("unshare(CLONE_NEWNET) failed");
    // A veth pair with a default route inside the namespace makes the system report a connection, as on a
    // desktop; nothing is sent over it, since every echo goes to loopback.
    const QList<QStringList> setup = {
        {"link", "set", "lo", "up"},
        {"link", "add", "v0", "type", "veth", "peer", "name", "v1"},
        {"addr", "add", "10.9.9.1/24", "dev", "v0"},
        {"link", "set", "v0", "up"},
        {"link", "set", "v1", "up"},
        {"route", "add", "default", "via", "10.9.9.2", "dev", "v0"},
    };
    for (const QStringList& arguments : setup) {
        if (QProcess::execute(QStringLiteral("ip"), arguments) != 0)
            return QStringLiteral("ip ") + arguments.join(u' ') + QStringLiteral(" failed");
    }
    QFile namespaceRange(QStringLiteral("/proc/sys/net/ipv4/ping_group_range"));
    if (!range.isEmpty() && namespaceRange.open(QIODevice::WriteOnly))
        namespaceRange.write(range.simplified().replace(' ', '\t'));
    return {};
}

inline double cpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// A field of a process's /proc/PID/status in kB, such as "VmRSS" or "VmHWM"; "self" is this process.
inline qint64 statusKb(const char* field, const QString& process = QStringLiteral("self"))
{
    QFile status(QStringLiteral("/proc/%1/status").arg(process));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray prefix = QByteArray(field) + ':';
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith(prefix))
            return line.mid(prefix.size()).trimmed().split(' ').first().toLongLong();
    }
    return -1;
}

} // namespace sondrel::bench
