#include "PrivateNetwork.h"

#include <QFile>
#include <QFileInfo>
#include <QProcess>

#include <cerrno>
#include <cstring>

#include <sched.h>
#include <sys/mount.h>
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

namespace {

// Writes content to a file of that name in folder and binds it over target, in the current mount namespace.
QString bindFileOver(const QString& folder, const char* target, const QByteArray& content)
{
    const QString source = folder + u'/' + QFileInfo(QString::fromLatin1(target)).fileName();
    QFile file(source);
    if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size())
        return QStringLiteral("cannot write ") + source;
    file.close();
    if (::mount(QFile::encodeName(source).constData(), target, nullptr, MS_BIND, nullptr) != 0)
        return QStringLiteral("cannot bind %1 over %2: %3")
            .arg(source, QString::fromLatin1(target), QString::fromLocal8Bit(std::strerror(errno)));
    return {};
}

} // namespace

QString usePrivateHostsFile(const QString& folder, const QByteArray& content)
{
    if (::unshare(CLONE_NEWNS) != 0)
        return QStringLiteral("unshare(CLONE_NEWNS) failed: %1").arg(QString::fromLocal8Bit(std::strerror(errno)));
    // Mounts made here must not reach the machine's own namespace.
    if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
        return QStringLiteral("cannot make the mounts private: %1").arg(QString::fromLocal8Bit(std::strerror(errno)));
    if (const QString failed = bindFileOver(folder, "/etc/hosts", content); !failed.isEmpty())
        return failed;
    for (const QStringList& step :
         {QStringList{"link", "add", "sondrel6", "type", "veth", "peer", "name", "sondrel6peer"},
          QStringList{"addr", "add", "fd00:5::1/64", "dev", "sondrel6", "nodad"},
          // An IPv4 address beside it, so that the resolver keeps handing out IPv4 addresses too (it leaves out
          // the kinds of address the machine has none of apart from loopback).
          QStringList{"addr", "add", "192.0.2.1/24", "dev", "sondrel6"},
          QStringList{"link", "set", "sondrel6peer", "up"}, QStringList{"link", "set", "sondrel6", "up"}}) {
        const QString failed = runCommand(QStringLiteral("ip"), step);
        if (!failed.isEmpty())
            return failed;
    }
    return {};
}

QString usePrivateResolverFile(const QString& folder, const QByteArray& content)
{
    return bindFileOver(folder, "/etc/resolv.conf", content);
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

QString addDefaultRoute()
{
    for (const QStringList& step :
         {QStringList{"link", "add", "sondrel0", "type", "veth", "peer", "name", "sondrel1"},
          QStringList{"addr", "add", "192.0.2.1/24", "dev", "sondrel0"}, QStringList{"link", "set", "sondrel0", "up"},
          QStringList{"link", "set", "sondrel1", "up"},
          QStringList{"route", "add", "default", "via", "192.0.2.2", "dev", "sondrel0"}}) {
        if (const QString failed = runCommand(QStringLiteral("ip"), step); !failed.isEmpty())
            return failed;
    }
    return {};
}

QString dropEchoRepliesFrom(const QString& address)
{
    return runCommand(QStringLiteral("nft"), {QStringLiteral("-f"), QStringLiteral("-")},
                      "table ip site {\n chain input {\n type filter hook input priority 0;\n ip saddr " +
                          address.toLatin1() + " icmp type echo-reply drop\n }\n}\n");
}

} // namespace sondrel::test
