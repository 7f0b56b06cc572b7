#include "core/PasswordVault.h"

#include "platform/WholeFile.h"
#include "store/Paths.h"

#include <QDir>
#include <QUrl>

#include <algorithm>

namespace sondrel::core {

using Status = platform::SecretStore::Status;

namespace {

// Host names are compared without regard to case, user names exactly.
QString hostKey(const QString& host)
{
    return host.toLower();
}

// The key in the secret store: "user@host".
QString secretKey(const QString& host, const QString& user)
{
    return user + u'@' + hostKey(host);
}

const QByteArray kFileHeader =
    QByteArrayLiteral("# Sondrel's SMTP passwords, one login a line: host, user and password, each percent-encoded.\n");

} // namespace

QString passwordPlaceSentence(PasswordPlace place, const QString& passwordFile)
{
    switch (place) {
    case PasswordPlace::Nowhere:
        break;
    case PasswordPlace::SecretStore:
        return QStringLiteral("The password is kept in the desktop's secret store.");
    case PasswordPlace::File:
        return QStringLiteral("The password is kept in %1, readable by you only.")
            .arg(QDir::toNativeSeparators(passwordFile));
    }
    return QStringLiteral("No password is kept.");
}

struct PasswordVault::Request {
    std::unique_ptr<platform::PendingOperation> operation;
};

struct PasswordVault::Entry {
    QString host;
    QString user;
    QString password;
};

PasswordVault::PasswordVault(platform::SecretStore& secrets, QString programFolder)
    : m_secrets(secrets)
    , m_programFolder(std::move(programFolder))
{
}

PasswordVault::~PasswordVault() = default;

QString PasswordVault::filePath() const
{
    return store::dataFile(m_programFolder, QStringLiteral("mailpasswords"));
}

void PasswordVault::save(const QString& host, const QString& user, const QString& password, SaveDone done)
{
    Request* request = newRequest();
    auto finish = [this, request, done = std::move(done)](PasswordPlace where, QString error) mutable {
        auto callback = std::move(done);
        endRequest(request);
        callback(where, error);
    };
    const QString key = secretKey(host, user);
    if (password.isEmpty()) {
        QString error;
        removeFromFile(host, user, &error);
        request->operation =
            m_secrets.remove(key, [finish, error](Status) mutable { finish(PasswordPlace::Nowhere, error); });
        return;
    }
    auto written = [this, request, key, entry = Entry{hostKey(host), user, password}, finish](Status status) mutable {
        QString error;
        if (status == Status::Done) {
            removeFromFile(entry.host, entry.user, &error);
            finish(PasswordPlace::SecretStore, error);
            return;
        }
        if (!writeToFile(entry, &error)) {
            finish(PasswordPlace::Nowhere, error);
            return;
        }
        // A store that refused the write may still hold an older password, which load would find first.
        request->operation = m_secrets.remove(key, [finish](Status) mutable { finish(PasswordPlace::File, {}); });
    };
    request->operation = m_secrets.write(key, password, std::move(written));
}

void PasswordVault::load(const QString& host, const QString& user, LoadDone done)
{
    Request* request = newRequest();
    auto answered = [this, request, host, user, done = std::move(done)](Status status, const QString& secret) mutable {
        QString password = secret;
        PasswordPlace where = PasswordPlace::SecretStore;
        if (status != Status::Done || secret.isEmpty()) {
            password = readFromFile(host, user);
            where = password.isEmpty() ? PasswordPlace::Nowhere : PasswordPlace::File;
        }
        auto callback = std::move(done);
        endRequest(request);
        callback(password, where);
    };
    request->operation = m_secrets.read(secretKey(host, user), std::move(answered));
}

PasswordVault::Request* PasswordVault::newRequest()
{
    return m_requests.emplace_back(std::make_unique<Request>()).get();
}

// Called from within the request's own callback: the operation is destroyed while it calls back, which
// PendingOperation allows.
void PasswordVault::endRequest(Request* request)
{
    std::erase_if(m_requests, [request](const auto& r) { return r.get() == request; });
}

bool PasswordVault::readEntries(std::vector<Entry>& entries, QString* error) const
{
    entries.clear();
    QByteArray content;
    if (!platform::readWholeFile(filePath(), content, error))
        return false;
    for (const QByteArray& line : content.split('\n')) {
        if (line.isEmpty() || line.startsWith('#'))
            continue;
        const QList<QByteArray> fields = line.trimmed().split(' ');
        if (fields.size() != 3)
            continue;
        auto text = [](const QByteArray& field) { return QString::fromUtf8(QByteArray::fromPercentEncoding(field)); };
        entries.push_back({hostKey(text(fields[0])), text(fields[1]), text(fields[2])});
    }
    return true;
}

bool PasswordVault::writeEntries(const std::vector<Entry>& entries, QString* error) const
{
    if (entries.empty())
        return platform::removeWholeFile(filePath(), error);
    QByteArray content = kFileHeader;
    for (const Entry& entry : entries) {
        content += QUrl::toPercentEncoding(entry.host) + ' ' + QUrl::toPercentEncoding(entry.user) + ' ' +
                   QUrl::toPercentEncoding(entry.password) + '\n';
    }
    return platform::replaceWholeFile(filePath(), content, error, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
}

bool PasswordVault::writeToFile(const Entry& entry, QString* error) const
{
    std::vector<Entry> entries;
    if (!readEntries(entries, error))
        return false;
    const auto same = [&entry](const Entry& e) { return e.host == entry.host && e.user == entry.user; };
    if (const auto found = std::find_if(entries.begin(), entries.end(), same); found != entries.end())
        found->password = entry.password;
    else
        entries.push_back(entry);
    return writeEntries(entries, error);
}

bool PasswordVault::removeFromFile(const QString& host, const QString& user, QString* error) const
{
    std::vector<Entry> entries;
    if (!readEntries(entries, error))
        return false;
    const QString key = hostKey(host);
    if (std::erase_if(entries, [&](const Entry& e) { return e.host == key && e.user == user; }) == 0)
        return true;
    return writeEntries(entries, error);
}

QString PasswordVault::readFromFile(const QString& host, const QString& user) const
{
    std::vector<Entry> entries;
    if (!readEntries(entries, nullptr))
        return {};
    const QString key = hostKey(host);
    for (const Entry& entry : entries) {
        if (entry.host == key && entry.user == user)
            return entry.password;
    }
    return {};
}

} // namespace sondrel::core
