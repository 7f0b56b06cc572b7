#include "platform/KeychainSecretStore.h"

#include <qt6keychain/keychain.h>

#include <QObject>

#include <utility>

namespace sondrel::platform {

namespace {

const QString kService = QStringLiteral("Sondrel");

// One QtKeychain job. A job under way cannot be cancelled (the libsecret back end keeps a bare pointer to it
// until the bus answers), so destroying the operation only drops the callback; the job runs to its end and
// deletes itself.
class KeychainOperation final : public QObject, public PendingOperation {
public:
    KeychainOperation(QKeychain::Job* job, std::function<void(const QKeychain::Job&)> finished)
        : m_finished(std::move(finished))
    {
        job->setAutoDelete(true);
        job->setInsecureFallback(false);
        connect(job, &QKeychain::Job::finished, this, [this](QKeychain::Job* ended) {
            if (auto finished = std::exchange(m_finished, nullptr))
                finished(*ended);
        });
        job->start(); // queued: the job starts from the event loop
    }

private:
    std::function<void(const QKeychain::Job&)> m_finished;
};

template <typename JobType> JobType* newJob(const QString& key)
{
    auto* job = new JobType(kService);
    job->setKey(key);
    return job;
}

} // namespace

std::unique_ptr<PendingOperation> KeychainSecretStore::read(const QString& key, ReadDone done)
{
    auto* job = newJob<QKeychain::ReadPasswordJob>(key);
    return std::make_unique<KeychainOperation>(job, [done = std::move(done)](const QKeychain::Job& ended) {
        switch (ended.error()) {
        case QKeychain::NoError:
            done(Status::Done, static_cast<const QKeychain::ReadPasswordJob&>(ended).textData());
            return;
        case QKeychain::EntryNotFound:
            done(Status::Missing, {});
            return;
        default:
            done(Status::NoStore, {});
            return;
        }
    });
}

std::unique_ptr<PendingOperation> KeychainSecretStore::write(const QString& key, const QString& secret, Done done)
{
    auto* job = newJob<QKeychain::WritePasswordJob>(key);
    job->setTextData(secret);
    return std::make_unique<KeychainOperation>(job, [done = std::move(done)](const QKeychain::Job& ended) {
        done(ended.error() == QKeychain::NoError ? Status::Done : Status::NoStore);
    });
}

std::unique_ptr<PendingOperation> KeychainSecretStore::remove(const QString& key, Done done)
{
    auto* job = newJob<QKeychain::DeletePasswordJob>(key);
    return std::make_unique<KeychainOperation>(job, [done = std::move(done)](const QKeychain::Job& ended) {
        const bool gone = ended.error() == QKeychain::NoError || ended.error() == QKeychain::EntryNotFound;
        done(gone ? Status::Done : Status::NoStore);
    });
}

} // namespace sondrel::platform
