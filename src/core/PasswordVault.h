#pragma once

#include "platform/PendingOperation.h"
#include "platform/SecretStore.h"

#include <QString>

#include <functional>
#include <memory>
#include <vector>

namespace sondrel::core {

enum class PasswordPlace { Nowhere, SecretStore, File };

// The sentence that tells the user where the password is kept; passwordFile is PasswordVault::filePath().
QString passwordPlaceSentence(PasswordPlace place, const QString& passwordFile);

// The SMTP login passwords, one for each host and user, each kept in exactly one place: the desktop's secret
// store when it answers, else data/mailpasswords, which only its owner may read or write. The e-mail settings
// and security files never hold a password, and nothing here writes one to a log, a message or standard error.
class PasswordVault {
public:
    PasswordVault(platform::SecretStore& secrets, QString programFolder);
    // Cancels every call under way: no callback is called after the destructor has returned.
    ~PasswordVault();
    PasswordVault(const PasswordVault&) = delete;
    PasswordVault& operator=(const PasswordVault&) = delete;

    // programFolder/data/mailpasswords
    QString filePath() const;

    // where is the place that holds the password afterwards; error is the system's reason when a file could not be
    // written or rewritten, empty when all went well.
    using SaveDone = std::function<void(PasswordPlace where, const QString& error)>;
    // An empty password with Nowhere when neither place holds one.
    using LoadDone = std::function<void(const QString& password, PasswordPlace where)>;

    // Keeps password in the secret store when it answers, else in the file, and removes any copy from the other
    // place. An empty password is removed from both places (where is Nowhere). done is called once, from the
    // event loop, and may destroy the vault.
    void save(const QString& host, const QString& user, const QString& password, SaveDone done);
    // Looks in the secret store first, then in the file. done is called once, from the event loop, and may
    // destroy the vault.
    void load(const QString& host, const QString& user, LoadDone done);

private:
    struct Request;
    struct Entry;

    Request* newRequest();
    void endRequest(Request* request);

    bool readEntries(std::vector<Entry>& entries, QString* error) const;
    bool writeEntries(const std::vector<Entry>& entries, QString* error) const;
    bool writeToFile(const Entry& entry, QString* error) const;
    bool removeFromFile(const QString& host, const QString& user, QString* error) const;
    QString readFromFile(const QString& host, const QString& user) const;

    platform::SecretStore& m_secrets;
    QString m_programFolder;
    std::vector<std::unique_ptr<Request>> m_requests;
};

} // namespace sondrel::core
