#include "mail/TrustedCertificates.h"

#include "platform/WholeFile.h"
#include "store/Paths.h"
#include "store/SettingsText.h"

#include <QCryptographicHash>

namespace sondrel::mail {

namespace {

QByteArray keyOf(const QString& host, quint16 port)
{
    return host.trimmed().toLower().toUtf8() + ' ' + QByteArray::number(port) + ' ';
}

QList<QByteArray> readLines(const QString& path)
{
    QByteArray text;
    if (!store::readSettingsText(path, text))
        return {};
    return text.split('\n');
}

} // namespace

TrustedCertificates::TrustedCertificates(QString programFolder)
    : m_programFolder(std::move(programFolder))
{
}

QString TrustedCertificates::path() const
{
    return store::dataFile(m_programFolder, QStringLiteral("trustedcertificates"));
}

QByteArray TrustedCertificates::certificateFor(const QString& host, quint16 port) const
{
    const QByteArray key = keyOf(host, port);
    for (const QByteArray& line : readLines(path())) {
        if (line.startsWith(key))
            return QByteArray::fromBase64(line.mid(key.size()).trimmed());
    }
    return {};
}

bool TrustedCertificates::trust(const QString& host, quint16 port, const QByteArray& certificate, QString* error) const
{
    const QByteArray key = keyOf(host, port);
    QByteArray content;
    for (const QByteArray& line : readLines(path())) {
        if (!line.trimmed().isEmpty() && !line.startsWith(key))
            content += line + '\n';
    }
    content += key + certificate.toBase64() + '\n';
    return platform::replaceWholeFile(path(), content, error);
}

QString certificateFingerprint(const QByteArray& certificate)
{
    const QByteArray hex = QCryptographicHash::hash(certificate, QCryptographicHash::Sha256).toHex().toUpper();
    QStringList pairs;
    for (qsizetype i = 0; i < hex.size(); i += 2)
        pairs.append(QString::fromLatin1(hex.mid(i, 2)));
    return pairs.join(u':');
}

} // namespace sondrel::mail
