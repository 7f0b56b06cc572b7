#include "platform/KeychainSecretStore.h"

#include <QSignalSpy>
#include <QTest>

#include <optional>

using namespace sondrel::platform;
using Status = SecretStore::Status;

Q_DECLARE_METATYPE(Status)

// The desktop's secret store through QtKeychain. SONDREL_SECRET_SERVICE says what the session offers:
// "running" (a private session bus with an unlocked gnome-keyring, see with-secret-service.sh) or "absent"
// (no session bus at all). Run by hand without it, the test finds out for itself.
class TestKeychain : public QObject {
    Q_OBJECT
private:
    KeychainSecretStore m_store;
    bool m_running = false;
    // Each test's keys are its own, so that an entry left behind by a failed run changes nothing.
    QString m_key;

    std::optional<std::pair<Status, QString>> read(const QString& key)
    {
        std::optional<std::pair<Status, QString>> answer;
        const auto operation = m_store.read(key, [&](Status status, const QString& secret) {
            answer = std::pair{status, secret};
        });
        if (!QTest::qWaitFor([&] { return answer.has_value(); }, 20000))
            return std::nullopt;
        return answer;
    }
    std::optional<Status> write(const QString& key, const QString& secret)
    {
        std::optional<Status> answer;
        const auto operation = m_store.write(key, secret, [&](Status status) { answer = status; });
        if (!QTest::qWaitFor([&] { return answer.has_value(); }, 20000))
            return std::nullopt;
        return answer;
    }
    std::optional<Status> remove(const QString& key)
    {
        std::optional<Status> answer;
        const auto operation = m_store.remove(key, [&](Status status) { answer = status; });
        if (!QTest::qWaitFor([&] { return answer.has_value(); }, 20000))
            return std::nullopt;
        return answer;
    }

private slots:
    void initTestCase()
    {
        const QByteArray expected = qgetenv("SONDREL_SECRET_SERVICE");
        if (expected == "running" || expected == "absent") {
            m_running = expected == "running";
            return;
        }
        const auto probe = read(QStringLiteral("probe@sondrel.invalid"));
        QVERIFY(probe);
        if (probe->first == Status::NoStore)
            QSKIP("No secret store answers on this session bus; CTest runs this test inside a private one.");
        m_running = true;
    }

    void init() { m_key = QStringLiteral("%1@test.invalid").arg(QString::fromLatin1(QTest::currentTestFunction())); }

    void writeReadRemove_answerAsTheSessionAllows()
    {
        if (!m_running) {
            // No store answers, and the secret is kept nowhere else either.
            QCOMPARE(write(m_key, QStringLiteral("unkept")), Status::NoStore);
            QCOMPARE(read(m_key), (std::pair{Status::NoStore, QString()}));
            QCOMPARE(remove(m_key), Status::NoStore);
            return;
        }
        const QString secret = u"pä ss wörd\n€ 日本"_qs;
        QCOMPARE(write(m_key, QStringLiteral("earlier")), Status::Done);
        QCOMPARE(write(m_key, secret), Status::Done); // replaces the earlier secret
        QCOMPARE(read(m_key), (std::pair{Status::Done, secret}));
        QCOMPARE(read(m_key + "-other"), (std::pair{Status::Missing, QString()}));
        QCOMPARE(remove(m_key), Status::Done);
        QCOMPARE(read(m_key), (std::pair{Status::Missing, QString()}));
        QCOMPARE(remove(m_key), Status::Done); // nothing left to remove
    }

    void droppedOperation_neverCallsBack_butTheStoreStillEndsIt()
    {
        bool called = false;
        m_store.write(m_key, QStringLiteral("dropped"), [&](Status) { called = true; }).reset();
        // Jobs run one after the other: once the read is answered, the dropped write has ended too.
        const std::pair expected =
            m_running ? std::pair{Status::Done, QStringLiteral("dropped")} : std::pair{Status::NoStore, QString()};
        QCOMPARE(read(m_key), expected);
        QVERIFY(!called);
        if (m_running)
            QCOMPARE(remove(m_key), Status::Done);
    }
};

QTEST_GUILESS_MAIN(TestKeychain)
#include "tst_keychain.moc"
