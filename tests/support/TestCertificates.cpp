#include "support/TestCertificates.h"

#include <QFile>
#include <QProcess>

#include <tuple>

namespace sondrel::test {

QString TestCertificates::openssl(const QStringList& arguments)
{
    QProcess process;
    process.setWorkingDirectory(m_folder.path());
    process.start(QStringLiteral("openssl"), arguments);
    if (!process.waitForFinished(30000) || process.exitCode() != 0)
        return QString::fromLocal8Bit(process.readAllStandardError()) + process.errorString();
    return {};
}

QString TestCertificates::makeCertificate(const QString& base, const QString& subjectAltName, bool selfSigned, int days)
{
    const QStringList key = {"-newkey", "ec",      "-pkeyopt",   "ec_paramgen_curve:prime256v1",
                             "-nodes",  "-keyout", base + ".key"};
    if (selfSigned)
        return openssl(QStringList{"req", "-x509"} + key +
                       QStringList{"-out", base + ".pem", "-days", "2", "-subj", "/CN=" + base, "-addext",
                                   "subjectAltName=" + subjectAltName});
    QFile extensions(file(base + ".ext"));
    if (!extensions.open(QIODevice::WriteOnly))
        return QStringLiteral("cannot write the extensions file");
    extensions.write("subjectAltName=" + subjectAltName.toLatin1() + "\n");
    extensions.close();
    QString failed = openssl(QStringList{"req"} + key + QStringList{"-out", base + ".csr", "-subj", "/CN=" + base});
    if (failed.isEmpty())
        failed = openssl({"x509", "-req", "-in", base + ".csr", "-CA", "ca.pem", "-CAkey", "ca.key", "-CAcreateserial",
                          "-out", base + ".pem", "-days", QString::number(days), "-extfile", base + ".ext"});
    return failed;
}

QString TestCertificates::make()
{
    if (!m_folder.isValid())
        return QStringLiteral("no temporary folder");
    QString failed =
        openssl({"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes", "-keyout",
                 "ca.key", "-out", "ca.pem", "-days", "2", "-subj", "/CN=Sondrel Test Authority/O=Sondrel Tests"});
    for (const auto& [base, names, selfSigned] :
         {std::tuple{"server", "IP:127.0.0.1,DNS:localhost", false}, std::tuple{"other", "DNS:other.test", false},
          std::tuple{"bridge", "IP:127.0.0.1", true}, std::tuple{"changed", "IP:127.0.0.1", true}}) {
        if (failed.isEmpty())
            failed = makeCertificate(QString::fromLatin1(base), QString::fromLatin1(names), selfSigned);
    }
    return failed.isEmpty() ? QString() : QStringLiteral("cannot make test certificates with openssl: ") + failed;
}

QString TestCertificates::makeSigned(const QString& name, int days)
{
    const QString failed = makeCertificate(name, QStringLiteral("IP:127.0.0.1,DNS:localhost"), false, days);
    return failed.isEmpty() ? QString() : QStringLiteral("cannot make a test certificate with openssl: ") + failed;
}

QList<QSslCertificate> TestCertificates::authority() const
{
    return QSslCertificate::fromPath(file(QStringLiteral("ca.pem")));
}

QByteArray TestCertificates::der(const QString& name) const
{
    QFile in(file(name + QStringLiteral(".pem")));
    return in.open(QIODevice::ReadOnly) ? QSslCertificate(in.readAll()).toDer() : QByteArray();
}

} // namespace sondrel::test
