#include "support/SmtpSink.h"

#include <QDir>
#include <QSignalSpy>

namespace sondrel::test {

SmtpSink::~SmtpSink()
{
    m_server.closeWriteChannel();
    if (m_server.state() != QProcess::NotRunning && !m_server.waitForFinished(5000))
        m_server.kill();
}

QString SmtpSink::start(double replyDelaySeconds, const QStringList& options)
{
    if (!m_spool.isValid())
        return QStringLiteral("no temporary folder");
    // The system's interpreter carries the Debian aiosmtpd package; the script prints its port.
    const QStringList arguments =
        QStringList{qEnvironmentVariable("SONDREL_SOURCE_DIR") + QStringLiteral("/tests/mail/smtp_sink.py"),
                    m_spool.path(), QString::number(replyDelaySeconds)} +
        options;
    m_server.start(QStringLiteral("/usr/bin/python3"), arguments);
    QSignalSpy output(&m_server, &QProcess::readyReadStandardOutput);
    // The server prints each port it listens on as a line of its own; ten seconds at most for each.
    const auto awaitLine = [&] {
        for (int turn = 0; turn < 100 && !m_server.canReadLine() && m_server.state() != QProcess::NotRunning; ++turn)
            output.wait(100);
        return m_server.canReadLine();
    };
    if (!awaitLine())
        return QStringLiteral("no loopback SMTP server (needs /usr/bin/python3 with aiosmtpd): ") +
               QString::fromLocal8Bit(m_server.readAllStandardError());
    m_host = QStringLiteral("127.0.0.1:") + QString::fromLatin1(m_server.readLine().trimmed());
    if (!options.contains(QStringLiteral("--oauth-issuer")))
        return {};
    if (!awaitLine())
        return QStringLiteral("the authorization server beside the SMTP server did not start: ") +
               QString::fromLocal8Bit(m_server.readAllStandardError());
    m_issuer = QStringLiteral("http://127.0.0.1:") + QString::fromLatin1(m_server.readLine().trimmed());
    return {};
}

QStringList SmtpSink::messages() const
{
    QStringList messages;
    for (const QString& name : QDir(m_spool.path()).entryList({QStringLiteral("*.eml")}, QDir::Files, QDir::Name)) {
        QFile file(m_spool.filePath(name));
        if (file.open(QIODevice::ReadOnly))
            messages.append(QString::fromLatin1(file.readAll()));
    }
    return messages;
}

} // namespace sondrel::test
