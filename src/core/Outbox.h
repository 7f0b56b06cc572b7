#pragma once

#include "mail/SmtpSession.h"

#include <QDateTime>
#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

namespace sondrel::core {

// A notification waiting to be sent again, with where its retries stand. The password and the access token are
// never part of it: they are fetched when each attempt starts.
struct OutboxEntry {
    mail::SmtpFields fields;
    QDateTime firstAttempt;
    QDateTime nextAttempt;
    int attempts = 0; // attempts made so far
    QString lastError;
};

// A notification's entry before any attempt: its fields without the password, due at firstAttempt.
OutboxEntry outboxEntryFor(const mail::SmtpFields& fields, const QDateTime& firstAttempt);

// One entry as a UTF-8 JSON object (format 1). Times are UTC with milliseconds; the trusted certificate is
// Base64 DER; "login" is present, as "OAuth2", only for an OAuth2 login. The password and access token are left
// out whatever the fields hold.
QByteArray encodeOutboxEntry(const OutboxEntry& entry);
// Nothing unless every field is present with its type, the times are valid and the count is not negative.
std::optional<OutboxEntry> decodeOutboxEntry(const QByteArray& bytes);

// programFolder/data/outbox/: one file per waiting notification, so that writing one never puts another at
// risk and a damaged file costs one message. Each file is replaced as a whole and only its owner may read it.
class Outbox {
public:
    struct Stored {
        QString path;
        OutboxEntry entry;
    };
    struct Contents {
        std::vector<Stored> entries; // in the order of their first attempts
        QStringList notes;           // what was set aside or could not be read, for the user
    };

    explicit Outbox(const QString& programFolder);

    const QString& folder() const { return m_folder; }

    // Every readable entry. A file that cannot be decoded is renamed with ".damaged" added, so that it is neither
    // retried nor lost; a file that cannot be read at all is left where it is. Both are told in notes.
    Contents load() const;
    // A name for a new entry, unused so far.
    QString newPath(const QDateTime& firstAttempt) const;
    // False with the reason when the folder cannot be made or the file not written.
    bool save(const QString& path, const OutboxEntry& entry, QString* error = nullptr) const;
    bool remove(const QString& path, QString* error = nullptr) const;

private:
    QString m_folder;
};

} // namespace sondrel::core
