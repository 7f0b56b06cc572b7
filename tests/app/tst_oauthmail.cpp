#include "app/SendMailWindow.h"
#include "core/NotificationQueue.h"
#include "mail/EmailSettings.h"
#include "platform/QtTcpSocket.h"
#include "support/Controls.h"
#include "support/Fakes.h"
#include "support/SmtpSink.h"
#include "support/TestCertificates.h"

#include <QComboBox>
#include <QDir>
#include <QDirIterator>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

using namespace sondrel;
using app::SendMailWindow;
using test::control;
using test::SmtpSink;

namespace {

constexpr int kWaitMs = 20000;

QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The user's browser: it follows the sign-in page's redirects, which lead back to the program's loopback
// listener, as a user who allows the access does.
class FollowingBrowser final : public platform::DesktopShell {
public:
    OpenResult openDocument(const QString&) override { return OpenResult::Failed; }
    bool openUrl(const QUrl& url) override
    {
        opened.append(url);
        QNetworkReply* reply = m_network.get(QNetworkRequest(url));
        QObject::connect(reply, &QNetworkReply::finished, reply, &QObject::deleteLater);
        return true;
    }
    QList<QUrl> opened;

private:
    QNetworkAccessManager m_network;
};

} // namespace

// OAuth2 logins against a real SMTP server (aiosmtpd) that takes only current tokens, with the authorization
// server beside it on loopback: the window's sign-in, test e-mails and notifications, a renewed token, a revoked
// sign-in, and a token command.
class TestOAuthMail : public QObject {
    Q_OBJECT
private slots:
    void initTestCase()
    {
        const QString noCertificates = m_certificates.make();
        if (!noCertificates.isEmpty())
            QSKIP(qPrintable(noCertificates));
        m_sockets = std::make_unique<platform::QtTcpSocketFactory>(m_certificates.authority());
        m_system.tcp = m_sockets.get();
        // No secret store answers, so that the password file is the one place the sign-in may be kept.
        m_system.secrets.answers = false;
    }

    void init()
    {
        QVERIFY(m_folder.isValid() && QDir(m_folder.path()).mkpath("data") && QDir(m_folder.path()).mkpath("logs"));
        QByteArray record(mail::kEmailRecordLength, '\0');
        mail::encodeEmailSettings(
            record, {"", "Watcher", "me@example.org", "Ops", "ops@example.org", "Site status", "Stored text", 0, 0});
        QFile file(mail::emailSettingsPath(m_folder.path()));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(record);
    }

    // Sign in once in the browser; the test e-mail and every notification after it log in with XOAUTH2, an
    // expired token is renewed once, and a revoked sign-in leaves the notification waiting with the words that
    // say to sign in again. No token is ever written anywhere but the password file.
    void browserSignIn_mailArrives_tokenRenewed_revokedWaits()
    {
        SmtpSink sink;
        const QString noServer =
            sink.start(0, {"--starttls", m_certificates.file("server.pem"), m_certificates.file("server.key"),
                           "--oauth-issuer", "sondrel-test:client-s3cret"});
        if (!noServer.isEmpty())
            QSKIP(qPrintable(noServer));
        FollowingBrowser browser;
        const platform::Services withBrowser{m_system.messages, m_system.clock,    m_system.connection, m_system.echo,
                                             m_system.resolver, m_system.http,     *m_system.tcp,       browser,
                                             m_system.secrets,  *m_system.notifier};

        SendMailWindow window(withBrowser, m_folder.path());
        window.Form_Load();
        fillLogin(window, sink.host());
        control<QComboBox>(window, "cboProvider")->setCurrentText("Custom");
        control<QLineEdit>(window, "txtClientId")->setText("sondrel-test");
        control<QLineEdit>(window, "txtClientSecret")->setText("client-s3cret");
        control<QLineEdit>(window, "txtAuthorizationUrl")->setText(sink.issuer() + "/authorize");
        control<QLineEdit>(window, "txtTokenUrl")->setText(sink.issuer() + "/token");
        control<QLineEdit>(window, "txtScope")->setText("https://mail.google.com/");
        QTest::mouseClick(control<QPushButton>(window, "Command1"), Qt::LeftButton);
        QTest::mouseClick(control<QPushButton>(window, "cmdSignIn"), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(control<QLabel>(window, "lblSignIn")->text().startsWith("Signed in"), kWaitMs);
        QCOMPARE(browser.opened.size(), 1);
        QVERIFY(browser.opened[0].query().contains("code_challenge_method=S256"));

        QTest::mouseClick(control<QPushButton>(window, "cmdSend"), Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(sink.messages().size(), 1, kWaitMs);
        QTRY_VERIFY(m_system.messages.texts().contains("Message sent successfuly."));
        QCOMPARE(envelope(sink, 1).value("mechanism").toString(), QStringLiteral("XOAUTH2"));

        core::NotificationQueue notifications(m_system.services(), m_folder.path());
        const auto notify = [&] {
            bool wentOn = false;
            notifications.notify("000001", [&] { wentOn = true; });
            QTRY_VERIFY_WITH_TIMEOUT(wentOn, kWaitMs);
        };
        notify();
        QTRY_COMPARE_WITH_TIMEOUT(sink.messages().size(), 2, kWaitMs);
        QVERIFY(envelope(sink, 2).value("tls").toBool());

        control_post(sink, "/control/expire");
        const int refreshes = stats(sink).value("refreshGrants").toInt();
        notify();
        QTRY_VERIFY2_WITH_TIMEOUT(sink.messages().size() == 3, qPrintable(notifications.lastError()), kWaitMs);
        QCOMPARE(stats(sink).value("refreshGrants").toInt(), refreshes + 1);

        control_post(sink, "/control/revoke");
        control_post(sink, "/control/expire");
        notify();
        QTRY_COMPARE_WITH_TIMEOUT(notifications.waitingCount(), 1, kWaitMs);
        QVERIFY2(notifications.lastError().startsWith("Sign in again"), qPrintable(notifications.lastError()));
        QCOMPARE(sink.messages().size(), 3);

        const QJsonObject issued = stats(sink);
        QVERIFY(!issued.value("accessTokens").toArray().isEmpty());
        for (QDirIterator files(m_folder.path(), QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
             files.hasNext();) {
            const QString path = files.next();
            const QByteArray content = readFile(path);
            for (const QJsonValue token : issued.value("accessTokens").toArray())
                QVERIFY2(!content.contains(token.toString().toUtf8()), qPrintable(path));
            if (files.fileName() == "mailpasswords")
                continue;
            for (const QJsonValue token : issued.value("refreshTokens").toArray())
                QVERIFY2(!content.contains(token.toString().toUtf8()), qPrintable(path));
            QVERIFY2(!content.contains("client-s3cret"), qPrintable(path));
        }
    }

    // A token command in place of the sign-in, against a server that offers OAUTHBEARER only; a command that
    // fails leaves the test e-mail unsent with its words.
    void tokenCommand_oauthBearerOnly()
    {
        SmtpSink sink;
        const QString noServer =
            sink.start(0, {"--starttls", m_certificates.file("server.pem"), m_certificates.file("server.key"),
                           "--oauth-token", "printed-token", "--oauth-mechanisms", "OAUTHBEARER"});
        if (!noServer.isEmpty())
            QSKIP(qPrintable(noServer));
        SendMailWindow window(m_system.services(), m_folder.path());
        window.Form_Load();
        fillLogin(window, sink.host());
        control<QLineEdit>(window, "txtClientId")->setText("unused");
        control<QLineEdit>(window, "txtTokenCommand")->setText("/bin/echo printed-token");
        QVERIFY(!control<QPushButton>(window, "cmdSignIn")->isEnabled());
        QTest::mouseClick(control<QPushButton>(window, "cmdSend"), Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(sink.messages().size(), 1, kWaitMs);
        QCOMPARE(envelope(sink, 1).value("mechanism").toString(), QStringLiteral("OAUTHBEARER"));

        QTRY_VERIFY(control<QPushButton>(window, "cmdSend")->isEnabled());
        control<QLineEdit>(window, "txtTokenCommand")->setText("/bin/sh -c 'echo no helper here >&2; exit 3'");
        m_system.messages.shown.clear();
        QTest::mouseClick(control<QPushButton>(window, "cmdSend"), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(!m_system.messages.shown.isEmpty(), kWaitMs);
        QVERIFY2(m_system.messages.shown.last().text.contains("no helper here"),
                 qPrintable(m_system.messages.shown.last().text));
        QCOMPARE(sink.messages().size(), 1);
    }

private:
    void fillLogin(SendMailWindow& window, const QString& host)
    {
        control<QLineEdit>(window, "txtHost")->setText(host);
        control<QComboBox>(window, "cboSecurity")->setCurrentText("STARTTLS");
        control<QLineEdit>(window, "txtUser")->setText("me@example.org");
        control<QComboBox>(window, "cboLogin")->setCurrentText("OAuth2");
    }

    static QJsonObject envelope(const SmtpSink& sink, int message)
    {
        return QJsonDocument::fromJson(readFile(sink.file(QStringLiteral("%1.json").arg(message, 4, 10, QChar('0')))))
            .object();
    }

    QByteArray http(const SmtpSink& sink, const QString& path, bool post)
    {
        QNetworkRequest request(QUrl(sink.issuer() + path));
        request.setHeader(QNetworkRequest::ContentTypeHeader, "application/x-www-form-urlencoded");
        QNetworkReply* reply = post ? m_network.post(request, QByteArray()) : m_network.get(request);
        [&] { QTRY_VERIFY_WITH_TIMEOUT(reply->isFinished(), kWaitMs); }();
        const QByteArray body = reply->readAll();
        reply->deleteLater();
        return body;
    }
    void control_post(const SmtpSink& sink, const QString& path) { http(sink, path, true); }
    QJsonObject stats(const SmtpSink& sink)
    {
        return QJsonDocument::fromJson(http(sink, "/control/stats", false)).object();
    }

    test::TestCertificates m_certificates;
    std::unique_ptr<platform::QtTcpSocketFactory> m_sockets;
    test::FakeSystem m_system;
    QTemporaryDir m_folder;
    QNetworkAccessManager m_network;
};

QTEST_MAIN(TestOAuthMail)
#include "tst_oauthmail.moc"
