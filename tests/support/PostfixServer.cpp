#include "support/PostfixServer.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTcpServer>

#include <csignal>

#include <pwd.h>
#include <unistd.h>

namespace sondrel::test {

namespace {

constexpr int kCommandMs = 30000;
const QString kDomain = QStringLiteral("sondrel.test");
const QString kPostfix = QStringLiteral("/usr/sbin/postfix");
const QString kSaslPasswd = QStringLiteral("/usr/sbin/saslpasswd2");

// Runs a tool to its end; empty text when it exits with 0, else what it said.
QString run(const QString& program, const QStringList& arguments, const QByteArray& input = {})
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    if (!process.waitForStarted(kCommandMs))
        return program + QStringLiteral(" did not start: ") + process.errorString();
    process.write(input);
    process.closeWriteChannel();
    if (!process.waitForFinished(kCommandMs)) {
        process.kill();
        process.waitForFinished(5000);
        return program + QStringLiteral(" did not finish within 30 s");
    }
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
        return program + u' ' + arguments.join(u' ') + QStringLiteral(": ") + QString::fromLocal8Bit(process.readAll());
    return {};
}

bool writeFile(const QString& path, const QString& text)
{
    QFile file(path);
    const QByteArray bytes = text.toUtf8();
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// The processes of the instance whose configuration is in configFolder: Postfix hands MAIL_CONFIG down from its
// master to every daemon.
QList<pid_t> processesOf(const QString& configFolder)
{
    const QByteArray mark = "MAIL_CONFIG=" + QFile::encodeName(configFolder);
    QList<pid_t> found;
    for (const QString& name : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        bool number = false;
        const pid_t pid = name.toInt(&number);
        QFile environment(QStringLiteral("/proc/%1/environ").arg(name));
        if (number && environment.open(QIODevice::ReadOnly) && environment.readAll().split('\0').contains(mark))
            found.append(pid);
    }
    return found;
}

} // namespace

QString PostfixServer::unavailable()
{
    if (::geteuid() != 0)
        return QStringLiteral("needs root to run a Postfix instance of its own");
    for (const QString& tool : {kPostfix, kSaslPasswd}) {
        if (!QFileInfo(tool).isExecutable())
            return QStringLiteral("needs Debian's postfix and sasl2-bin packages: no ") + tool;
    }
    if (::getpwnam("postfix") == nullptr)
        return QStringLiteral("needs Debian's postfix package: no user postfix");
    return {};
}

PostfixServer::~PostfixServer()
{
    stop();
}

void PostfixServer::stop()
{
    if (!m_started)
        return;
    m_started = false;
    const QString config = path(QStringLiteral("conf"));
    // Waits for the master to end, and ends it by force after a few seconds; what still lingers is killed.
    run(kPostfix, {QStringLiteral("-c"), config, QStringLiteral("stop")});
    for (const pid_t pid : processesOf(config))
        ::kill(pid, SIGKILL);
}

QString PostfixServer::writeConfiguration(quint16 port, const QString& certificateFile, const QString& keyFile) const
{
    // No name lookups, no local delivery, no mail to any other domain: what cannot go to the Maildir fails.
    const QString main = QStringLiteral(R"(compatibility_level = 3.6
config_directory = %1/conf
queue_directory = %1/queue
data_directory = %1/data
mail_owner = postfix
setgid_group = postdrop
myhostname = mx.%2
mydomain = %2
myorigin = %2
mydestination =
inet_interfaces = 127.0.0.1
inet_protocols = ipv4
mynetworks = 127.0.0.1/32
alias_maps =
alias_database =
biff = no
smtpd_peername_lookup = no
default_transport = error:no mail leaves this test
relay_transport = error:no mail leaves this test
virtual_mailbox_domains = %2
virtual_mailbox_base = %1/mail
virtual_mailbox_maps = inline:{ %3=owner/ }
virtual_uid_maps = static:%4
virtual_gid_maps = static:%5
smtpd_tls_cert_file = %6
smtpd_tls_key_file = %7
smtpd_tls_security_level = encrypt
smtpd_tls_received_header = yes
smtpd_tls_loglevel = 1
smtpd_forbid_bare_newline = reject
smtpd_forbid_bare_newline_exclusions =
smtpd_sasl_auth_enable = yes
smtpd_sasl_type = cyrus
smtpd_sasl_local_domain = %2
smtpd_recipient_restrictions = permit_sasl_authenticated, reject
maillog_file_prefixes = %1
maillog_file = %1/maillog
)");
    const QString master = QStringLiteral(R"(127.0.0.1:%1 inet n - n - - smtpd
cleanup unix n - n - 0 cleanup
qmgr unix n - n 300 1 qmgr
tlsmgr unix - - n 1000? 1 tlsmgr
rewrite unix - - n - - trivial-rewrite
bounce unix - - n - 0 bounce
defer unix - - n - 0 bounce
trace unix - - n - 0 bounce
verify unix - - n - 1 verify
flush unix n - n 1000? 0 flush
proxymap unix - - n - - proxymap
error unix - - n - - error
retry unix - - n - - error
discard unix - - n - - discard
virtual unix - n n - - virtual
anvil unix - - n - 1 anvil
scache unix - - n - 1 scache
postlog unix-dgram n - n - 1 postlogd
)");
    // Debian's smtpd reads its SASL settings from sasl/smtpd.conf in the configuration folder.
    const QString sasl = QStringLiteral("pwcheck_method: auxprop\nauxprop_plugin: sasldb\nmech_list: PLAIN LOGIN\n"
                                        "sasldb_path: %1/sasldb2\n");
    const passwd* nobody = ::getpwnam("nobody");
    if (nobody == nullptr)
        return QStringLiteral("no user nobody to deliver mail as");
    const QString folder = m_folder.path();
    if (!QDir(folder).mkpath(QStringLiteral("conf/sasl")) || !QDir(folder).mkpath(QStringLiteral("queue")) ||
        !QDir(folder).mkpath(QStringLiteral("mail")) ||
        ::chown(QFile::encodeName(path(QStringLiteral("mail"))).constData(), nobody->pw_uid, nobody->pw_gid) != 0)
        return QStringLiteral("cannot make the Postfix folders");
    const bool written =
        writeFile(path(QStringLiteral("conf/main.cf")),
                  main.arg(folder, kDomain, QString::fromLatin1(kMailbox), QString::number(nobody->pw_uid),
                           QString::number(nobody->pw_gid), certificateFile, keyFile)) &&
        writeFile(path(QStringLiteral("conf/master.cf")), master.arg(port)) &&
        writeFile(path(QStringLiteral("conf/sasl/smtpd.conf")), sasl.arg(folder));
    return written ? QString() : QStringLiteral("cannot write the Postfix configuration");
}

QString PostfixServer::start(const QString& certificateFile, const QString& keyFile, const QString& user,
                             const QString& password)
{
    if (const QString why = unavailable(); !why.isEmpty())
        return why;
    // getpwnam() reuses one buffer: keep the numbers.
    const uid_t postfixUser = ::getpwnam("postfix")->pw_uid;
    if (!m_folder.isValid())
        return QStringLiteral("no temporary folder");
    // The daemons drop root and must still reach their folders.
    QFile::setPermissions(m_folder.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadGroup |
                                               QFile::ExeGroup | QFile::ReadOther | QFile::ExeOther);

    QTcpServer probe;
    if (!probe.listen(QHostAddress::LocalHost, 0))
        return QStringLiteral("no free loopback port: ") + probe.errorString();
    const quint16 port = probe.serverPort();
    probe.close();

    QString failed = writeConfiguration(port, certificateFile, keyFile);
    const QString database = path(QStringLiteral("sasldb2"));
    if (failed.isEmpty())
        failed = run(kSaslPasswd,
                     {QStringLiteral("-p"), QStringLiteral("-c"), QStringLiteral("-f"), database, QStringLiteral("-u"),
                      kDomain, user},
                     password.toUtf8() + '\n');
    if (failed.isEmpty() && ::chown(QFile::encodeName(database).constData(), postfixUser, gid_t(-1)) != 0)
        failed = QStringLiteral("cannot give the login database to postfix");
    const QString config = path(QStringLiteral("conf"));
    // check makes the folders inside the queue folder, and the data folder, with their owners and modes.
    if (failed.isEmpty())
        failed = run(kPostfix, {QStringLiteral("-c"), config, QStringLiteral("check")});
    if (failed.isEmpty()) {
        m_started = true;
        // Returns once the master listens, or has failed to start.
        failed = run(kPostfix, {QStringLiteral("-c"), config, QStringLiteral("start")});
    }
    if (!failed.isEmpty())
        return QStringLiteral("Postfix did not start: ") + failed + u'\n' + log();
    m_host = QStringLiteral("127.0.0.1:%1").arg(port);
    return {};
}

QByteArrayList PostfixServer::mailbox() const
{
    // Maildir delivery writes each message in tmp/ and moves it to new/ once whole.
    QByteArrayList messages;
    const QFileInfoList files =
        QDir(path(QStringLiteral("mail/owner/new"))).entryInfoList(QDir::Files, QDir::Time | QDir::Reversed);
    for (const QFileInfo& info : files) {
        QFile file(info.filePath());
        if (file.open(QIODevice::ReadOnly))
            messages.append(file.readAll());
    }
    return messages;
}

QString PostfixServer::log() const
{
    QFile file(path(QStringLiteral("maillog")));
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

} // namespace sondrel::test
