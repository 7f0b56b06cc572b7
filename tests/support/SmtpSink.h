#pragma once

#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>

namespace sondrel::test {

// A real SMTP server (aiosmtpd, tests/mail/smtp_sink.py) on a loopback port, storing every message it accepts.
class SmtpSink {
public:
    ~SmtpSink();

    // Starts the server; every reply waits replyDelaySeconds first; options are the script's own (TLS, login,
    // refused recipients). Empty text on success, else why it could not start.
    QString start(double replyDelaySeconds = 0, const QStringList& options = {});

    // "127.0.0.1:<port>".
    const QString& host() const { return m_host; }
    // "http://127.0.0.1:<port>" of the authorization server that runs beside it with --oauth-issuer, else empty.
    const QString& issuer() const { return m_issuer; }
    // The stored messages in the order they arrived, each as received (dots unstuffed).
    QStringList messages() const;
    // A file in the server's folder: NNNN.eml and NNNN.json for message n.
    QString file(const QString& name) const { return m_spool.filePath(name); }

private:
    QTemporaryDir m_spool;
    QProcess m_server;
    QString m_host;
    QString m_issuer;
};

} // namespace sondrel::test
