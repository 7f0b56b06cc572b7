#pragma once

#include <QByteArrayList>
#include <QString>
#include <QTemporaryDir>

namespace sondrel::test {

// A private Postfix instance on a loopback port, with its configuration, queue, data and mail folders in a
// temporary folder of its own, so that it neither uses nor disturbs the machine's own Postfix. It requires
// STARTTLS before any mail, accepts mail only after a login checked by Cyrus SASL against a database of its own,
// delivers every message for kMailbox to a Maildir and sends nothing anywhere else. Needs root, Debian's postfix
// and sasl2-bin packages, and libsasl2-modules for PLAIN and LOGIN.
class PostfixServer {
public:
    static constexpr char kMailbox[] = "owner@sondrel.test";

    // Why no instance can run on this machine (not root, a package missing); empty text when one can.
    static QString unavailable();

    // Stops the instance and kills whatever is left of it.
    ~PostfixServer();

    // Starts Postfix on a free port of 127.0.0.1 with that certificate and key, accepting only that login.
    // Empty text once it listens, else why it could not start (why it is unavailable, or what went wrong).
    QString start(const QString& certificateFile, const QString& keyFile, const QString& user, const QString& password);

    // "127.0.0.1:<port>".
    const QString& host() const { return m_host; }
    // The messages delivered to kMailbox, each whole as Postfix stored it (lines end in LF), oldest first.
    QByteArrayList mailbox() const;
    // What Postfix has logged.
    QString log() const;

private:
    QString path(const QString& name) const { return m_folder.filePath(name); }
    QString writeConfiguration(quint16 port, const QString& certificateFile, const QString& keyFile) const;
    void stop();

    QTemporaryDir m_folder;
    QString m_host;
    bool m_started = false;
};

} // namespace sondrel::test
