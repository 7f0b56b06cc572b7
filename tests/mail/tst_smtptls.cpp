#include "mail/SmtpSession.h"
#include "platform/QtTcpSocket.h"
#include "support/FakeSmtpServer.h"
#include "support/Fakes.h"
#include "support/SmtpSink.h"
#include "support/TestCertificates.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace sondrel;
using namespace sondrel::mail;
using Outcome = SmtpSession::Outcome;

// Encrypted and logged-in exchanges with a real SMTP server (aiosmtpd) on loopback, using certificates made
// for the test and trusted only inside it.
class TestSmtpTls : public QObject {
    Q_OBJECT
private:
    test::TestCertificates m_certificates;

    QString file(const QString& name) const { return m_certificates.file(name); }

private slots:
    void initTestCase()
    {
        const QString failed = m_certificates.make();
        if (!failed.isEmpty())
            QSKIP(qPrintable(failed));
    }

    void exchange_data()
    {
        QTest::addColumn<QStringList>("server");
        QTest::addColumn<int>("security");
        QTest::addColumn<QString>("password");
        QTest::addColumn<bool>("authorityTrusted");
        QTest::addColumn<QString>("pinned");
        QTest::addColumn<int>("outcome");
        const QStringList starttls = {"--starttls", file("server.pem"), file("server.key"), "--login", "me:secret"};
        const QStringList implicit = {"--implicit-tls", file("server.pem"), file("server.key"), "--login", "me:secret"};
        const int startTls = int(SmtpSecurity::StartTls);
        const int ssl = int(SmtpSecurity::ImplicitTls);
        QTest::newRow("STARTTLS and login") << starttls << startTls << "secret" << true << "" << int(Outcome::Sent);
        QTest::newRow("SSL/TLS and login") << implicit << ssl << "secret" << true << "" << int(Outcome::Sent);
        QTest::newRow("wrong password") << starttls << startTls << "guess" << true << "" << int(Outcome::ServerError);
        QTest::newRow("authority not trusted")
            << implicit << ssl << "secret" << false << "" << int(Outcome::CertificateRejected);
        QTest::newRow("certificate for another name")
            << QStringList{"--starttls", file("other.pem"), file("other.key"), "--login", "me:secret"} << startTls
            << "secret" << true << "" << int(Outcome::CertificateRejected);
        const QStringList bridge = {"--implicit-tls", file("bridge.pem"), file("bridge.key"), "--login", "me:secret"};
        QTest::newRow("own certificate trusted for the host")
            << bridge << ssl << "secret" << false << "bridge" << int(Outcome::Sent);
        QTest::newRow("own certificate changed")
            << QStringList{"--implicit-tls", file("changed.pem"), file("changed.key"), "--login", "me:secret"} << ssl
            << "secret" << false << "bridge" << int(Outcome::CertificateRejected);
    }
    void exchange()
    {
        QFETCH(QStringList, server);
        QFETCH(int, security);
        QFETCH(QString, password);
        QFETCH(bool, authorityTrusted);
        QFETCH(QString, pinned);
        QFETCH(int, outcome);
        test::SmtpSink sink;
        const QString noServer = sink.start(0, server);
        if (!noServer.isEmpty())
            QSKIP(qPrintable(noServer));
        QList<QSslCertificate> authorities;
        if (authorityTrusted)
            authorities = m_certificates.authority();
        platform::QtTcpSocketFactory sockets(authorities);
        test::FakeClock clock;
        SmtpFields fields;
        fields.host = sink.host();
        fields.message = {"Watcher", "me@example.org", "Ops", "ops@example.org", "Site down", "Body"};
        fields.security = SmtpSecurity(security);
        fields.user = QStringLiteral("me");
        fields.password = password;
        if (!pinned.isEmpty())
            fields.trustedCertificate = m_certificates.der(pinned);
        SmtpSession session(sockets, clock, [&] { return fields; });
        session.setReplyTimeout(10000);
        QSignalSpy finished(&session, &SmtpSession::finished);
        session.start();
        QVERIFY(finished.wait(20000));
        const auto result = finished[0][0].value<SmtpSession::Result>();
        QVERIFY2(int(result.outcome) == outcome, qPrintable(result.text));
        if (outcome == int(Outcome::Sent)) {
            QTRY_COMPARE(sink.messages().size(), 1);
            QFile meta(sink.file(QStringLiteral("0001.json")));
            QVERIFY(meta.open(QIODevice::ReadOnly));
            const QJsonObject envelope = QJsonDocument::fromJson(meta.readAll()).object();
            QVERIFY(envelope.value("tls").toBool() && envelope.value("authenticated").toBool());
        } else {
            QCOMPARE(sink.messages().size(), 0);
        }
        if (outcome == int(Outcome::CertificateRejected)) {
            QVERIFY(!result.text.isEmpty());
            QVERIFY(!result.certificate.isEmpty()); // offered to the user to decide on
        }
        if (outcome == int(Outcome::ServerError))
            QVERIFY2(result.text.startsWith("535"), qPrintable(result.text));
    }

    // With no encryption chosen, neither a password nor an access token is sent, even to a server that offers
    // a login for it.
    void secretOverPlainConnection_isNeverSent_data()
    {
        QTest::addColumn<int>("login");
        QTest::newRow("password") << int(LoginMethod::Password);
        QTest::newRow("access token") << int(LoginMethod::OAuth2);
    }
    void secretOverPlainConnection_isNeverSent()
    {
        QFETCH(int, login);
        test::FakeSmtpServer server(
            {{"220 ready\r\n"}, {"250-plain.test\r\n250-AUTH PLAIN LOGIN XOAUTH2 OAUTHBEARER\r\n250 8BITMIME\r\n"}});
        platform::QtTcpSocketFactory sockets;
        test::FakeClock clock;
        SmtpFields fields;
        fields.host = server.address();
        fields.message = {"Watcher", "me@example.org", "Ops", "ops@example.org", "Site down", "Body"};
        fields.user = QStringLiteral("me");
        fields.login = LoginMethod(login);
        fields.password = QStringLiteral("secret");
        fields.accessToken = QStringLiteral("secret");
        SmtpSession session(sockets, clock, [&] { return fields; });
        QSignalSpy finished(&session, &SmtpSession::finished);
        session.start();
        QVERIFY(finished.wait(10000));
        const auto result = finished[0][0].value<SmtpSession::Result>();
        QCOMPARE(result.outcome, Outcome::ServerError);
        QVERIFY2(result.text.contains(QStringLiteral("unencrypted")), qPrintable(result.text));
        QTRY_VERIFY(server.peerClosed);
        QCOMPARE(server.commands.size(), 1);
        QVERIFY(server.commands[0].startsWith("EHLO "));
        for (const QByteArray& command : server.commands)
            QVERIFY(!command.contains("secret") && !command.contains(QByteArray("secret").toBase64()));
    }

    // Each address gets its own RCPT TO; the message goes to those accepted, and the refused are named.
    void severalRecipients_oneRefused()
    {
        test::SmtpSink sink;
        const QString noServer = sink.start(0, {"--refuse", "b@example.org"});
        if (!noServer.isEmpty())
            QSKIP(qPrintable(noServer));
        platform::QtTcpSocketFactory sockets;
        test::FakeClock clock;
        SmtpFields fields;
        fields.host = sink.host();
        fields.message = {
            "Watcher", "me@example.org", "Ops", "a@example.org, b@example.org; c@example.org", "Site down", "Body"};
        SmtpSession session(sockets, clock, [&] { return fields; });
        QSignalSpy finished(&session, &SmtpSession::finished);
        session.start();
        QVERIFY(finished.wait(10000));
        const auto result = finished[0][0].value<SmtpSession::Result>();
        QCOMPARE(result.outcome, Outcome::Sent);
        QCOMPARE(result.refusedRecipients.size(), 1);
        QVERIFY(result.refusedRecipients[0].startsWith(QStringLiteral("b@example.org: 550")));
        QTRY_COMPARE(sink.messages().size(), 1);
        QFile meta(sink.file(QStringLiteral("0001.json")));
        QVERIFY(meta.open(QIODevice::ReadOnly));
        QCOMPARE(QJsonDocument::fromJson(meta.readAll()).object().value("rcpt_tos").toVariant().toStringList(),
                 (QStringList{"a@example.org", "c@example.org"}));
        const QString message = sink.messages().first();
        for (const char* address : {"<a@example.org>", "<b@example.org>", "<c@example.org>"})
            QVERIFY(message.contains(QString::fromLatin1(address)));
    }
};

QTEST_GUILESS_MAIN(TestSmtpTls)
#include "tst_smtptls.moc"
