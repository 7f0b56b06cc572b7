#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

namespace sondrel::mail {

// data/email.dat holds one record of this length.
inline constexpr qsizetype kEmailRecordLength = 3536;

// The e-mail notification settings as stored in data/email.dat.
struct EmailSettings {
    QString SmtpHost;
    QString SenderName;
    QString SenderAddress;
    QString RecipientName;
    QString RecipientAddress;
    QString Subject;
    QString MessageBody;
    qint16 AttachLog = 0; // -1 attaches the run's log
    qint16 DisconnectDelay = 0;
};

EmailSettings decodeEmailSettings(QByteArrayView record);

// Writes the settings into a record as read from the file (kEmailRecordLength bytes). The two reserved bytes
// stay as they were read, and an empty MessageBody leaves the stored message's bytes untouched.
void encodeEmailSettings(QByteArray& record, const EmailSettings& settings);

// programFolder/data/email.dat
QString emailSettingsPath(const QString& programFolder);

// data/email.dat, its one record read or replaced within one call. Failures give the system's reason.
class EmailSettingsFile {
public:
    explicit EmailSettingsFile(QString programFolder);

    QString path() const;

    // A missing file is created empty and loads as all zero bytes.
    std::optional<EmailSettings> load(QString* error = nullptr) const;
    // Writes the settings over the record as it is in the file (see encodeEmailSettings) and replaces the whole
    // file at once, so a failed save leaves the earlier settings whole.
    bool save(const EmailSettings& settings, QString* error = nullptr) const;

private:
    QString m_programFolder;
};

// The message for the first of the six required values that is empty, in the order they are checked;
// empty text when all six are given. The values are expected trimmed.
QString missingValueMessage(const EmailSettings& settings);

// The delay as stored: the leading number of the trimmed text rounded to the nearest whole number, halves to
// the even neighbour, and held to the 16-bit range.
qint16 disconnectDelayValue(QStringView text);

} // namespace sondrel::mail
