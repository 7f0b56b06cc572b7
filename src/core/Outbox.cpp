#include "core/Outbox.h"

#include "core/DeliveryRetry.h"
#include "platform/WholeFile.h"
#include "store/Paths.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRandomGenerator>

#include <algorithm>
#include <cmath>

namespace sondrel::core {

namespace {

constexpr int kFormat = 1;
// An entry carries at most a message with its attached log lines; anything far larger is not one of ours.
constexpr qint64 kMaxEntryBytes = 64 * 1024 * 1024;

const QString kSuffix = QStringLiteral(".json");
const QString kDamagedSuffix = QStringLiteral(".damaged");

QString timeText(const QDateTime& time)
{
    return time.toUTC().toString(Qt::ISODateWithMs);
}

QDateTime timeFrom(const QJsonValue& value)
{
    if (!value.isString())
        return {};
    QDateTime time = QDateTime::fromString(value.toString(), Qt::ISODateWithMs);
    return time.isValid() ? time.toLocalTime() : QDateTime();
}

std::optional<mail::SmtpSecurity> securityFrom(const QString& name)
{
    for (const auto security :
         {mail::SmtpSecurity::None, mail::SmtpSecurity::StartTls, mail::SmtpSecurity::ImplicitTls})
        if (name == mail::smtpSecurityName(security))
            return security;
    return std::nullopt;
}

} // namespace

OutboxEntry outboxEntryFor(const mail::SmtpFields& fields, const QDateTime& firstAttempt)
{
    OutboxEntry entry;
    entry.fields = fields;
    entry.fields.password.clear();
    entry.fields.accessToken.clear();
    entry.firstAttempt = entry.nextAttempt = firstAttempt;
    return entry;
}

QByteArray encodeOutboxEntry(const OutboxEntry& entry)
{
    const mail::SmtpFields& fields = entry.fields;
    QJsonObject object{
        {QStringLiteral("format"), kFormat},
        {QStringLiteral("host"), fields.host},
        {QStringLiteral("security"), mail::smtpSecurityName(fields.security)},
        {QStringLiteral("user"), fields.user},
        {QStringLiteral("senderName"), fields.message.senderName},
        {QStringLiteral("senderAddress"), fields.message.senderAddress},
        {QStringLiteral("recipientName"), fields.message.recipientName},
        {QStringLiteral("recipientAddress"), fields.message.recipientAddress},
        {QStringLiteral("subject"), fields.message.subject},
        {QStringLiteral("text"), fields.message.text},
        {QStringLiteral("trustedCertificate"), QString::fromLatin1(fields.trustedCertificate.toBase64())},
        {QStringLiteral("firstAttempt"), timeText(entry.firstAttempt)},
        {QStringLiteral("nextAttempt"), timeText(entry.nextAttempt)},
        {QStringLiteral("attempts"), entry.attempts},
        {QStringLiteral("lastError"), entry.lastError},
    };
    // Written only for an OAuth2 login, so that an entry with a password login keeps its bytes.
    if (fields.login == mail::LoginMethod::OAuth2)
        object.insert(QStringLiteral("login"), mail::loginMethodName(fields.login));
    return QJsonDocument(object).toJson(QJsonDocument::Indented);
}

std::optional<OutboxEntry> decodeOutboxEntry(const QByteArray& bytes)
{
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(bytes, &parseError);
    if (parseError.error != QJsonParseError::NoError || !document.isObject())
        return std::nullopt;
    const QJsonObject object = document.object();
    if (object.value(QStringLiteral("format")).toInt(-1) != kFormat)
        return std::nullopt;

    bool complete = true;
    const auto text = [&](const char* key) {
        const QJsonValue value = object.value(QLatin1String(key));
        complete = complete && value.isString();
        return value.toString();
    };
    OutboxEntry entry;
    mail::SmtpFields& fields = entry.fields;
    fields.host = text("host");
    const std::optional<mail::SmtpSecurity> security = securityFrom(text("security"));
    fields.user = text("user");
    fields.message.senderName = text("senderName");
    fields.message.senderAddress = text("senderAddress");
    fields.message.recipientName = text("recipientName");
    fields.message.recipientAddress = text("recipientAddress");
    fields.message.subject = text("subject");
    fields.message.text = text("text");
    const auto certificate =
        QByteArray::fromBase64Encoding(text("trustedCertificate").toLatin1(), QByteArray::AbortOnBase64DecodingErrors);
    entry.lastError = text("lastError");
    entry.firstAttempt = timeFrom(object.value(QStringLiteral("firstAttempt")));
    entry.nextAttempt = timeFrom(object.value(QStringLiteral("nextAttempt")));
    // A count is whole and not negative; one beyond any that the retry window allows reads as that bound, so
    // that no later step computes with a count near the end of int.
    const QJsonValue attempts = object.value(QStringLiteral("attempts"));
    const double count = attempts.toDouble(-1);
    if (!complete || !security || !certificate || !entry.firstAttempt.isValid() || !entry.nextAttempt.isValid() ||
        !attempts.isDouble() || !(count >= 0) || count != std::floor(count))
        return std::nullopt;
    entry.attempts = count >= kMaxDeliveryAttempts ? kMaxDeliveryAttempts : int(count);
    fields.security = *security;
    fields.trustedCertificate = *certificate;
    const QJsonValue login = object.value(QStringLiteral("login"));
    if (login.isUndefined())
        return entry;
    if (login.toString() != mail::loginMethodName(mail::LoginMethod::OAuth2))
        return std::nullopt;
    fields.login = mail::LoginMethod::OAuth2;
    return entry;
}

Outbox::Outbox(const QString& programFolder)
    : m_folder(store::dataFile(programFolder, QStringLiteral("outbox")))
{
}

Outbox::Contents Outbox::load() const
{
    Contents contents;
    const QDir dir(m_folder);
    if (!dir.exists())
        return contents;
    // Every name is looked at, whatever it names: a link, a device, a FIFO or a folder is told about, never read.
    const QDir::Filters every = QDir::AllEntries | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot;
    for (const QString& name : dir.entryList({QLatin1Char('*') + kSuffix}, every, QDir::Name)) {
        const QString path = dir.filePath(name);
        QByteArray bytes;
        QString error;
        const platform::RegularFileRead read = platform::readRegularFile(path, kMaxEntryBytes, bytes, &error);
        if (read == platform::RegularFileRead::TooLarge) {
            bytes.clear(); // not one of ours: set aside as damaged
        } else if (read != platform::RegularFileRead::Read) {
            contents.notes.append(QStringLiteral("The waiting notification in %1 could not be read: %2")
                                      .arg(QDir::toNativeSeparators(path), error));
            continue;
        }
        if (std::optional<OutboxEntry> entry = decodeOutboxEntry(bytes)) {
            contents.entries.push_back({path, std::move(*entry)});
            continue;
        }
        QString aside = path + kDamagedSuffix;
        for (int n = 2; QFile::exists(aside); ++n)
            aside = path + QStringLiteral(".%1").arg(n) + kDamagedSuffix;
        if (QFile::rename(path, aside))
            contents.notes.append(QStringLiteral("The waiting notification in %1 is damaged; it was set aside as %2.")
                                      .arg(QDir::toNativeSeparators(path), QDir::toNativeSeparators(aside)));
        else
            contents.notes.append(
                QStringLiteral("The waiting notification in %1 is damaged and could not be set aside.")
                    .arg(QDir::toNativeSeparators(path)));
    }
    std::stable_sort(contents.entries.begin(), contents.entries.end(),
                     [](const Stored& a, const Stored& b) { return a.entry.firstAttempt < b.entry.firstAttempt; });
    return contents;
}

QString Outbox::newPath(const QDateTime& firstAttempt) const
{
    const QString stamp = firstAttempt.toUTC().toString(QStringLiteral("yyyyMMdd-HHmmsszzz"));
    QString path;
    do {
        path = QDir(m_folder).filePath(QStringLiteral("%1-%2%3")
                                           .arg(stamp)
                                           .arg(QRandomGenerator::global()->generate(), 8, 16, QLatin1Char('0'))
                                           .arg(kSuffix));
    } while (QFile::exists(path));
    return path;
}

bool Outbox::save(const QString& path, const OutboxEntry& entry, QString* error) const
{
    QDir dir(m_folder);
    if (!dir.exists()) {
        if (!dir.mkpath(QStringLiteral("."))) {
            if (error)
                *error = QStringLiteral("The folder could not be made.");
            return false;
        }
        QFile::setPermissions(m_folder, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    }
    return platform::replaceWholeFile(path, encodeOutboxEntry(entry), error,
                                      QFileDevice::ReadOwner | QFileDevice::WriteOwner);
}

bool Outbox::remove(const QString& path, QString* error) const
{
    return platform::removeWholeFile(path, error);
}

} // namespace sondrel::core
