#include "PrivateNetwork.h"

#include <QFile>
#include <QProcess>

#include <cerrno>
#include <cstring>

#include <sched.h>
#include <unistd.h>

namespace sondrel::test {

QString enterPrivateNetwork()
{
    if (::geteuid() != 0)
        return QStringLiteral("needs root to create a private network namespace");
    if (::unshare(CLONE_NEWNET) != 0)
        return QStringLiteral("unshare(CLONE_NEWNET) failed: %1").arg(QString::fromLocal8Bit(std::strerror(errno)));
    const QString failed = runCommand(QStringLiteral("ip"), {QStringLiteral("link"), QStringLiteral("set"),
                                                             QStringLiteral("lo"), QStringLiteral("up")});
    if (!failed.isEmpty())
        return QStringLiteral("cannot bring up loopback: ") + failed;
    return {};
}

QString runCommand(const QString& program, const QStringList& arguments, const QByteArray& input)
{
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForStarted(5000))
        return program + QStringLiteral(" did not start: ") + process.errorString();
    process.write(input);
    process.closeWriteChannel();
    if (!process.waitForFinished(5000)) {
        process.kill();
        process.waitForFinished(1000);
        return program + QStringLiteral(" did not finish");
    }
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
        return program + QStringLiteral(": ") + QString::fromLocal8Bit(process.readAllStandardError());
    return {};
}

bool setPingGroupRange(const QByteArray& range)
{
    QFile file(QStringLiteral("/proc/sys/net/ipv4/ping_group_range"));
    return file.open(QIODevice::WriteOnly) && file.write(range) == range.size();
}

} // namespace sondrel::test
