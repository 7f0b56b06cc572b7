#pragma once

#include <QByteArray>
#include <QList>
#include <QSslCertificate>
#include <QString>
#include <QTemporaryDir>

namespace sondrel::test {

// Certificates made with openssl for one test program and trusted only inside it: an authority ("Sondrel Test
// Authority" of "Sondrel Tests"), "server"
// (127.0.0.1 and localhost), "other" (other.test) signed by it, and two self-signed ones for 127.0.0.1,
// "bridge" and "changed". Each NAME has NAME.pem and NAME.key.
class TestCertificates {
public:
    // Empty text when all were made, else why not.
    QString make();
    QString file(const QString& name) const { return m_folder.filePath(name); }
    // One more certificate NAME for 127.0.0.1 and localhost, signed by the authority and valid for `days` days
    // from now; after make(). Empty text when it was made, else why not.
    QString makeSigned(const QString& name, int days);
    QList<QSslCertificate> authority() const;
    // The DER form of NAME.pem.
    QByteArray der(const QString& name) const;

private:
    QString openssl(const QStringList& arguments);
    QString makeCertificate(const QString& base, const QString& subjectAltName, bool selfSigned, int days = 2);

    QTemporaryDir m_folder;
};

} // namespace sondrel::test
