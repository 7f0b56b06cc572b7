#include "mail/EmailSettings.h"

#include "platform/NumberText.h"
#include "store/FixedText.h"
#include "store/Paths.h"
#include "store/RecordFile.h"

#include <cmath>

namespace sondrel::mail {

namespace {

struct Field {
    qsizetype offset;
    qsizetype width;
};
constexpr Field kHost{0, 255};
constexpr Field kSenderName{255, 255};
constexpr Field kSenderAddress{510, 255};
constexpr Field kRecipientName{765, 255};
constexpr Field kRecipientAddress{1020, 255};
constexpr Field kSubject{1275, 255};
constexpr Field kMessage{1530, 2000};
constexpr qsizetype kAttachLogOffset = 3530;
constexpr qsizetype kDelayOffset = 3534;

QString readText(QByteArrayView record, Field field)
{
    return store::readFixedText(record, field.offset, field.width);
}

void writeText(QByteArray& record, Field field, const QString& text)
{
    store::writeFixedText(record, field.offset, field.width, text);
}

} // namespace

EmailSettings decodeEmailSettings(QByteArrayView record)
{
    EmailSettings settings;
    settings.SmtpHost = readText(record, kHost);
    settings.SenderName = readText(record, kSenderName);
    settings.SenderAddress = readText(record, kSenderAddress);
    settings.RecipientName = readText(record, kRecipientName);
    settings.RecipientAddress = readText(record, kRecipientAddress);
    settings.Subject = readText(record, kSubject);
    settings.MessageBody = readText(record, kMessage);
    settings.AttachLog = store::readInt16(record, kAttachLogOffset);
    settings.DisconnectDelay = store::readInt16(record, kDelayOffset);
    return settings;
}

void encodeEmailSettings(QByteArray& record, const EmailSettings& settings)
{
    if (record.size() < kEmailRecordLength)
        record.append(QByteArray(kEmailRecordLength - record.size(), '\0'));
    writeText(record, kHost, settings.SmtpHost);
    writeText(record, kSenderName, settings.SenderName);
    writeText(record, kSenderAddress, settings.SenderAddress);
    writeText(record, kRecipientName, settings.RecipientName);
    writeText(record, kRecipientAddress, settings.RecipientAddress);
    writeText(record, kSubject, settings.Subject);
    if (!settings.MessageBody.isEmpty())
        writeText(record, kMessage, settings.MessageBody);
    store::writeInt16(record, kAttachLogOffset, settings.AttachLog);
    store::writeInt16(record, kDelayOffset, settings.DisconnectDelay);
}

QString emailSettingsPath(const QString& programFolder)
{
    return store::dataFile(programFolder, QStringLiteral("email.dat"));
}

EmailSettingsFile::EmailSettingsFile(QString programFolder)
    : m_programFolder(std::move(programFolder))
{
}

QString EmailSettingsFile::path() const
{
    return emailSettingsPath(m_programFolder);
}

std::optional<EmailSettings> EmailSettingsFile::load(QString* error) const
{
    QByteArray record;
    if (!store::RecordFile(path(), kEmailRecordLength).read(1, record, error))
        return std::nullopt;
    return decodeEmailSettings(record);
}

bool EmailSettingsFile::save(const EmailSettings& settings, QString* error) const
{
    const store::RecordFile file(path(), kEmailRecordLength);
    QByteArray record;
    if (!file.read(1, record, error))
        return false;
    encodeEmailSettings(record, settings);
    return file.replace(1, record, error);
}

QString missingValueMessage(const EmailSettings& settings)
{
    const std::pair<const QString*, const char*> required[] = {
        {&settings.SmtpHost, "You must specify an SMPT Host"},
        {&settings.SenderName, "You must specify a Sender Name"},
        {&settings.SenderAddress, "You must specify a Sender E-mail Address"},
        {&settings.RecipientName, "You must specify a Recipient Name"},
        {&settings.RecipientAddress, "You must specify a Recipient E-mail Address"},
        {&settings.Subject, "You must specify a Subject"},
    };
    for (const auto& [value, message] : required) {
        if (value->isEmpty())
            return QString::fromLatin1(message);
    }
    return {};
}

qint16 disconnectDelayValue(QStringView text)
{
    const double value = platform::leadingNumber(store::trimSpaces(text));
    if (!(value > -32768.5))
        return -32768;
    if (value >= 32767.5)
        return 32767;
    double rounded = std::floor(value + 0.5);
    if (rounded - value == 0.5 && std::fmod(rounded, 2.0) != 0.0)
        rounded -= 1.0; // a half goes to the even neighbour
    return static_cast<qint16>(rounded);
}

} // namespace sondrel::mail
