#include "mail/EmailSettings.h"
#include "mail/MailSecurity.h"
#include "support/ProgramFolder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTest>

using namespace sondrel;
using mail::MailSecurity;
using mail::MailSecurityFile;
using mail::SmtpSecurity;

Q_DECLARE_METATYPE(MailSecurity)
Q_DECLARE_METATYPE(SmtpSecurity)

namespace sondrel::mail {
char* toString(const MailSecurity& settings)
{
    return QTest::toString(smtpSecurityName(settings.security) + u" user=\""_qs + settings.user +
                           u"\" groupSeconds="_qs + QString::number(settings.groupSeconds));
}
} // namespace sondrel::mail

// The connection security and login name, kept in data/mailsecurity.ini beside data/email.dat.
class TestMailSecurity : public QObject {
    Q_OBJECT
private:
    std::unique_ptr<QTemporaryDir> m_dir;

    MailSecurityFile file() const { return MailSecurityFile(m_dir->path()); }
    void writeRaw(const QByteArray& bytes)
    {
        QFile raw(file().path());
        QVERIFY(raw.open(QIODevice::WriteOnly));
        QCOMPARE(raw.write(bytes), bytes.size());
    }
    QByteArray readRaw(const QString& path) const
    {
        QFile raw(path);
        return raw.open(QIODevice::ReadOnly) ? raw.readAll() : QByteArray();
    }

private slots:
    void init()
    {
        m_dir = test::newProgramFolder();
        QVERIFY(m_dir->isValid());
    }

    void portsAndNames_data()
    {
        QTest::addColumn<SmtpSecurity>("security");
        QTest::addColumn<int>("port");
        QTest::addColumn<QString>("name");
        QTest::newRow("none") << SmtpSecurity::None << 25 << "None";
        QTest::newRow("starttls") << SmtpSecurity::StartTls << 587 << "STARTTLS";
        QTest::newRow("implicit") << SmtpSecurity::ImplicitTls << 465 << "SSL/TLS";
    }
    void portsAndNames()
    {
        QFETCH(SmtpSecurity, security);
        QTEST(int(mail::defaultPort(security)), "port");
        QTEST(mail::smtpSecurityName(security), "name");
    }

    void save_thenLoad_givesTheSameSettings_data()
    {
        QTest::addColumn<MailSecurity>("settings");
        QTest::addColumn<QByteArray>("stored");
        QTest::newRow("no login") << MailSecurity{} << QByteArray("security=None\nuser=\n");
        QTest::newRow("starttls") << MailSecurity{SmtpSecurity::StartTls, "me@example.org"}
                                  << QByteArray("security=STARTTLS\nuser=me@example.org\n");
        QTest::newRow("any script, blanks and =")
            << MailSecurity{SmtpSecurity::ImplicitTls, u" Jürgen=Ωμέγα 日本 "_qs}
            << QByteArray("security=SSL/TLS\nuser=") + u" Jürgen=Ωμέγα 日本 "_qs.toUtf8() + "\n";
        // The grouping time has a line only when it is not the default, so older files keep their bytes.
        QTest::newRow("grouping off") << MailSecurity{SmtpSecurity::None, "", 0}
                                      << QByteArray("security=None\nuser=\ngroupSeconds=0\n");
        QTest::newRow("longest grouping") << MailSecurity{SmtpSecurity::StartTls, "me", 3600}
                                          << QByteArray("security=STARTTLS\nuser=me\ngroupSeconds=3600\n");
        // The OAuth2 lines follow only with an OAuth2 login, each only when it holds something.
        MailSecurity microsoft{SmtpSecurity::StartTls, "me@outlook.com"};
        microsoft.login = mail::LoginMethod::OAuth2;
        microsoft.oauth.clientId = "0e1f-id";
        QTest::newRow("oauth2 preset") << microsoft
                                       << QByteArray("security=STARTTLS\nuser=me@outlook.com\nlogin=OAuth2\n"
                                                     "provider=Microsoft\nclientId=0e1f-id\n");
        MailSecurity custom{SmtpSecurity::ImplicitTls, "me", 0};
        custom.login = mail::LoginMethod::OAuth2;
        custom.oauth = {mail::OAuthProvider::Custom, "id",           "https://id.example/auth?tenant=a=b",
                        "https://id.example/token",  "smtp offline", "helper --account 'me x'"};
        QTest::newRow("oauth2 custom with a command")
            << custom
            << QByteArray("security=SSL/TLS\nuser=me\ngroupSeconds=0\nlogin=OAuth2\nprovider=Custom\nclientId=id\n"
                          "authorizationUrl=https://id.example/auth?tenant=a=b\ntokenUrl=https://id.example/token\n"
                          "scope=smtp offline\ntokenCommand=helper --account 'me x'\n");
        MailSecurity passwordAgain = custom;
        passwordAgain.login = mail::LoginMethod::Password;
        passwordAgain.oauth = {};
        QTest::newRow("password login drops the oauth2 lines")
            << passwordAgain << QByteArray("security=SSL/TLS\nuser=me\ngroupSeconds=0\n");
    }
    void save_thenLoad_givesTheSameSettings()
    {
        QFETCH(MailSecurity, settings);
        QString error;
        QVERIFY2(file().save(MailSecurity{SmtpSecurity::StartTls, "earlier"}, &error), qPrintable(error));
        QVERIFY2(file().save(settings, &error), qPrintable(error));
        QTEST(readRaw(file().path()), "stored");
        const auto loaded = MailSecurityFile(m_dir->path()).load(&error);
        QVERIFY2(loaded, qPrintable(error));
        QCOMPARE(*loaded, settings);
    }

    void missingFile_readsAsNoneWithoutLogin()
    {
        const auto loaded = file().load();
        QVERIFY(loaded);
        QCOMPARE(*loaded, MailSecurity{});
        QVERIFY(!QFile::exists(file().path()));
    }

    void damagedValues_readAsTheirDefaults_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<MailSecurity>("expected");
        QTest::newRow("empty file") << QByteArray() << MailSecurity{};
        QTest::newRow("unknown security")
            << QByteArray("security=SMTPS\nuser=me\n") << MailSecurity{SmtpSecurity::None, "me"};
        QTest::newRow("name in any case, blanks, CRLF")
            << QByteArray(" security = starttls \r\nuser=me\r\n") << MailSecurity{SmtpSecurity::StartTls, "me"};
        QTest::newRow("byte order mark") << QByteArray("\xEF\xBB\xBFsecurity=STARTTLS\n")
                                         << MailSecurity{SmtpSecurity::StartTls, ""};
        QTest::newRow("user not UTF-8") << QByteArray("user=m\xff\xfe\nsecurity=SSL/TLS\n")
                                        << MailSecurity{SmtpSecurity::ImplicitTls, ""};
        QTest::newRow("no line end, unknown keys")
            << QByteArray("colour=blue\nnonsense\nsecurity=SSL/TLS") << MailSecurity{SmtpSecurity::ImplicitTls, ""};
        QTest::newRow("binary") << QByteArrayLiteral("\x00\x01\xff=\x80\n\x00security\n") << MailSecurity{};
        QTest::newRow("grouping with blanks and CRLF")
            << QByteArray("groupSeconds = 45 \r\n") << MailSecurity{SmtpSecurity::None, "", 45};
        QTest::newRow("unknown login and provider") << QByteArray("login=Kerberos\nprovider=Yahoo\n") << MailSecurity{};
        for (const char* bad : {"3601", "-1", "12s", "", "1e3"})
            QTest::addRow("grouping \"%s\"", bad) << QByteArray("groupSeconds=") + bad + "\n" << MailSecurity{};
    }
    void damagedValues_readAsTheirDefaults()
    {
        QFETCH(QByteArray, content);
        writeRaw(content);
        const auto loaded = file().load();
        QVERIFY(loaded);
        QTEST(*loaded, "expected");
    }

    void unreadableFile_failsTheLoadWithTheReason()
    {
        QVERIFY(QDir().mkpath(file().path())); // a folder where the file should be: exists, cannot be read
        QString error;
        QVERIFY(!file().load(&error));
        QVERIFY(!error.isEmpty());
        QVERIFY(!file().save(MailSecurity{}, &error));
        QVERIFY(!error.isEmpty());
    }

    void unstorableValues_areRefused_andTheFileKept()
    {
        QVERIFY(file().save(MailSecurity{SmtpSecurity::StartTls, "me"}));
        QString error;
        QVERIFY(!file().save(MailSecurity{SmtpSecurity::None, "me\nsecurity=None"}, &error));
        QVERIFY(!error.isEmpty());
        error.clear();
        QVERIFY(!file().save(MailSecurity{SmtpSecurity::None, "me", 3601}, &error));
        QVERIFY(!error.isEmpty());
        MailSecurity command{SmtpSecurity::None, "me"};
        command.oauth.tokenCommand = "helper\rlogin=Password";
        error.clear();
        QVERIFY(!file().save(command, &error));
        QVERIFY(!error.isEmpty());
        QCOMPARE(*file().load(), (MailSecurity{SmtpSecurity::StartTls, "me"}));
    }

    void save_leavesEmailDatUntouched_andNoOtherFile()
    {
        const mail::EmailSettingsFile email(m_dir->path());
        QVERIFY(email.save(
            {"smtp.example.org:587", "Watcher", "me@example.org", "Ops", "ops@example.org", "Status", "Body", -1, 5}));
        const QByteArray before = readRaw(email.path());
        QCOMPARE(before.size(), mail::kEmailRecordLength);
        const QDateTime modified = QFileInfo(email.path()).lastModified();

        QVERIFY(file().save(MailSecurity{SmtpSecurity::ImplicitTls, "me@example.org"}));
        QVERIFY(file().save(MailSecurity{SmtpSecurity::StartTls, "other@example.org"}));
        QCOMPARE(readRaw(email.path()), before);
        QCOMPARE(QFileInfo(email.path()).lastModified(), modified);
        QCOMPARE(QDir(m_dir->path() + "/data").entryList(QDir::Files | QDir::Hidden),
                 (QStringList{"email.dat", "mailsecurity.ini"}));
        QCOMPARE(email.load()->SmtpHost, QStringLiteral("smtp.example.org:587"));
    }
};

QTEST_APPLESS_MAIN(TestMailSecurity)
#include "tst_mailsecurity.moc"
