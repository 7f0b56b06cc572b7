#include "core/PasswordVault.h"
#include "support/Fakes.h"
#include "support/FileSizeLimit.h"
#include "support/ProgramFolder.h"

#include <QDirIterator>
#include <QFile>
#include <QTest>
#include <QUrl>

#include <optional>

#include <sys/stat.h>

using namespace sondrel;
using core::PasswordPlace;
using core::PasswordVault;

Q_DECLARE_METATYPE(PasswordPlace)

namespace {

const QString kHost = QStringLiteral("smtp.example.org");
const QString kUser = QStringLiteral("me@example.org");

// Every message Qt or the program logs while a test runs, to prove that no password reaches one.
QStringList g_logged;
QtMessageHandler g_previousHandler = nullptr;

void recordMessage(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    g_logged.append(message);
    g_previousHandler(type, context, message);
}

struct Loaded {
    QString password;
    PasswordPlace where;
};

struct Saved {
    PasswordPlace where;
    QString error;
};

// The file's mode bits in octal, as ls and chmod show them.
QString fileMode(const QString& path)
{
    struct stat status {};
    if (::stat(QFile::encodeName(path).constData(), &status) != 0)
        return QStringLiteral("missing");
    return QString::number(status.st_mode & 07777, 8);
}

QByteArray contentOf(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

// Where the SMTP password is kept: the desktop's secret store when it answers, else a file only its owner can
// read, never both.
class TestPasswordVault : public QObject {
    Q_OBJECT
private:
    std::unique_ptr<QTemporaryDir> m_dir;
    test::FakeSecretStore m_store;
    std::unique_ptr<PasswordVault> m_vault;
    QStringList m_passwords; // every password a test used, none of which may be logged

    std::optional<Saved> save(const QString& host, const QString& user, const QString& password)
    {
        m_passwords.append(password);
        std::optional<Saved> saved;
        m_vault->save(host, user, password, [&](PasswordPlace where, const QString& error) {
            saved = Saved{where, error};
        });
        if (!QTest::qWaitFor([&] { return saved.has_value(); }, 5000))
            return std::nullopt;
        return saved;
    }
    std::optional<Loaded> load(const QString& host, const QString& user)
    {
        std::optional<Loaded> loaded;
        m_vault->load(host, user, [&](const QString& password, PasswordPlace where) {
            loaded = Loaded{password, where};
        });
        if (!QTest::qWaitFor([&] { return loaded.has_value(); }, 5000))
            return std::nullopt;
        return loaded;
    }
    // The files under the program folder, other than the password file, whose bytes hold password in any form.
    QStringList otherFilesHolding(const QString& password) const
    {
        QStringList holding;
        QDirIterator files(m_dir->path(), QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
        while (files.hasNext()) {
            const QString path = files.next();
            const QByteArray bytes = contentOf(path);
            if (path != m_vault->filePath() &&
                (bytes.contains(password.toUtf8()) || bytes.contains(QUrl::toPercentEncoding(password))))
                holding.append(path);
        }
        return holding;
    }

private slots:
    void initTestCase() { g_previousHandler = qInstallMessageHandler(recordMessage); }

    void init()
    {
        m_dir = test::newProgramFolder();
        QVERIFY(m_dir->isValid());
        m_store.answers = true;
        m_store.secrets.clear();
        m_vault = std::make_unique<PasswordVault>(m_store, m_dir->path());
        m_passwords.clear();
        g_logged.clear();
    }

    void cleanup()
    {
        m_vault.reset();
        for (const QString& password : std::as_const(m_passwords)) {
            for (const QString& message : std::as_const(g_logged))
                QVERIFY2(password.isEmpty() || !message.contains(password), "a password was logged");
        }
    }

    void storeAnswers_passwordGoesToTheStore_andNoFileIsWritten()
    {
        const auto saved = save(kHost, kUser, "s3cret-Pw_42");
        QVERIFY(saved);
        QCOMPARE(saved->where, PasswordPlace::SecretStore);
        QCOMPARE(saved->error, QString());
        QCOMPARE(m_store.secrets, (QHash<QString, QString>{{"me@example.org@smtp.example.org", "s3cret-Pw_42"}}));
        QVERIFY(!QFile::exists(m_vault->filePath()));
        QVERIFY(otherFilesHolding("s3cret-Pw_42").isEmpty());

        const auto loaded = load("SMTP.Example.ORG", kUser); // host names in any case
        QVERIFY(loaded);
        QCOMPARE(loaded->password, QStringLiteral("s3cret-Pw_42"));
        QCOMPARE(loaded->where, PasswordPlace::SecretStore);
    }

    void noStore_fileIsOwnerOnly_andAloneHoldsThePassword_data()
    {
        QTest::addColumn<QString>("password");
        QTest::newRow("plain") << "s3cret-Pw_42";
        QTest::newRow("blanks, line breaks, % and any script") << u" pä ss%20\n=Ωμέγα\r\t# "_qs;
    }
    void noStore_fileIsOwnerOnly_andAloneHoldsThePassword()
    {
        QFETCH(QString, password);
        m_store.answers = false;
        // With no umask, a file made with the default mode would be readable and writable by everyone.
        const mode_t umaskBefore = ::umask(0);
        const auto saved = save(kHost, kUser, password);
        const auto other = save(kHost, "other", "other-pw");
        ::umask(umaskBefore);
        QVERIFY(saved && other);
        QCOMPARE(saved->where, PasswordPlace::File);
        QCOMPARE(saved->error, QString());
        QCOMPARE(fileMode(m_vault->filePath()), QStringLiteral("600"));
        QVERIFY(contentOf(m_vault->filePath()).contains(QUrl::toPercentEncoding(password)));
        QVERIFY(otherFilesHolding(password).isEmpty());
        QVERIFY(m_store.secrets.isEmpty());

        // A file whose mode was widened is private again once rewritten.
        QVERIFY(QFile::setPermissions(m_vault->filePath(), QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                               QFileDevice::ReadGroup | QFileDevice::ReadOther));
        QCOMPARE(save(kHost, "other", "changed")->where, PasswordPlace::File);
        QCOMPARE(fileMode(m_vault->filePath()), QStringLiteral("600"));

        const auto loaded = load(kHost, kUser);
        QVERIFY(loaded);
        QCOMPARE(loaded->password, password);
        QCOMPARE(loaded->where, PasswordPlace::File);
        QCOMPARE(load(kHost, "other")->password, QStringLiteral("changed"));
    }

    void fromFileToStore_theFileCopyIsRemoved()
    {
        m_store.answers = false;
        QCOMPARE(save(kHost, kUser, "file-pw")->where, PasswordPlace::File);
        QCOMPARE(save("mail.example.net", kUser, "kept-pw")->where, PasswordPlace::File);
        m_store.answers = true;
        QCOMPARE(save(kHost, kUser, "store-pw")->where, PasswordPlace::SecretStore);
        QVERIFY(!contentOf(m_vault->filePath()).contains("file-pw"));
        QVERIFY(contentOf(m_vault->filePath()).contains("kept-pw")); // another login stays where it was
        QCOMPARE(load(kHost, kUser)->password, QStringLiteral("store-pw"));

        QCOMPARE(save("mail.example.net", kUser, "kept-pw")->where, PasswordPlace::SecretStore);
        QVERIFY(!QFile::exists(m_vault->filePath())); // the last login gone: no file is left behind
        QCOMPARE(m_store.secrets.size(), 2);
    }

    void load_looksInTheStoreFirst_thenInTheFile()
    {
        m_store.answers = false;
        QCOMPARE(save(kHost, kUser, "in-file")->where, PasswordPlace::File);
        m_store.answers = true;
        m_store.secrets.insert("me@example.org@smtp.example.org", "in-store");
        QCOMPARE(load(kHost, kUser)->password, QStringLiteral("in-store"));
        QCOMPARE(load(kHost, kUser)->where, PasswordPlace::SecretStore);
        m_store.secrets.clear();
        QCOMPARE(load(kHost, kUser)->password, QStringLiteral("in-file"));
        QCOMPARE(load(kHost, kUser)->where, PasswordPlace::File);
        m_store.answers = false;
        QCOMPARE(load(kHost, kUser)->password, QStringLiteral("in-file"));
        QCOMPARE(load(kHost, "someone else")->password, QString());
        QCOMPARE(load(kHost, "someone else")->where, PasswordPlace::Nowhere);
    }

    void emptyPassword_isRemovedFromBothPlaces()
    {
        m_store.answers = false;
        QCOMPARE(save(kHost, kUser, "in-file")->where, PasswordPlace::File);
        m_store.answers = true;
        m_store.secrets.insert("me@example.org@smtp.example.org", "in-store");
        const auto saved = save(kHost, kUser, QString());
        QVERIFY(saved);
        QCOMPARE(saved->where, PasswordPlace::Nowhere);
        QCOMPARE(saved->error, QString());
        QVERIFY(m_store.secrets.isEmpty());
        QVERIFY(!QFile::exists(m_vault->filePath()));
        QCOMPARE(load(kHost, kUser)->where, PasswordPlace::Nowhere);
    }

    void fullDisk_nowhere_withTheReason_andTheEarlierFileWhole()
    {
        m_store.answers = false;
        QCOMPARE(save(kHost, kUser, "earlier-pw")->where, PasswordPlace::File);
        const QByteArray before = contentOf(m_vault->filePath());
        std::optional<Saved> saved;
        {
            test::FileSizeLimit full(before.size() + 10);
            QVERIFY(full.active());
            saved = save(kHost, "other", "lost-pw-" + QString(200, u'x'));
        }
        QVERIFY(saved);
        QCOMPARE(saved->where, PasswordPlace::Nowhere);
        QVERIFY(!saved->error.isEmpty());
        QCOMPARE(contentOf(m_vault->filePath()), before);
        QCOMPARE(QDir(m_dir->path() + "/data").entryList(QDir::Files | QDir::Hidden), QStringList{"mailpasswords"});
        QCOMPARE(load(kHost, kUser)->password, QStringLiteral("earlier-pw"));
    }

    void destroyingTheVault_dropsItsCallbacks()
    {
        bool called = false;
        m_vault->save(kHost, kUser, "pw", [&](PasswordPlace, const QString&) { called = true; });
        m_vault->load(kHost, kUser, [&](const QString&, PasswordPlace) { called = true; });
        m_vault = std::make_unique<PasswordVault>(m_store, m_dir->path());
        // The store answers in order, so once a later call is answered the dropped ones would have been too.
        QVERIFY(load(kHost, kUser));
        QVERIFY(!called);
    }

    void aCallbackMayDestroyTheVault()
    {
        bool called = false;
        m_vault->save(kHost, kUser, "pw", [&](PasswordPlace where, const QString&) {
            m_vault.reset();
            called = where == PasswordPlace::SecretStore;
        });
        QTRY_VERIFY(called);
    }

    void placeSentences_data()
    {
        QTest::addColumn<PasswordPlace>("place");
        QTest::addColumn<QString>("sentence");
        QTest::newRow("nowhere") << PasswordPlace::Nowhere << "No password is kept.";
        QTest::newRow("store") << PasswordPlace::SecretStore << "The password is kept in the desktop's secret store.";
        QTest::newRow("file") << PasswordPlace::File
                              << "The password is kept in /opt/sondrel/data/mailpasswords, readable by you only.";
    }
    void placeSentences()
    {
        QFETCH(PasswordPlace, place);
        QTEST(core::passwordPlaceSentence(place, PasswordVault(m_store, "/opt/sondrel").filePath()), "sentence");
    }
};

QTEST_GUILESS_MAIN(TestPasswordVault)
#include "tst_passwordvault.moc"
