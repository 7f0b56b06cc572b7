#pragma once

#include <QByteArray>
#include <QString>

namespace sondrel::mail {

// Server certificates the user chose to trust, each for exactly one host and port: some local mail bridges
// present a certificate of their own that no authority signed. Kept in data/trustedcertificates, one line per
// host and port: "host port base64-DER". A changed certificate on the same host is not trusted.
class TrustedCertificates {
public:
    explicit TrustedCertificates(QString programFolder);

    QString path() const;
    // The certificate trusted for host and port (DER), or nothing.
    QByteArray certificateFor(const QString& host, quint16 port) const;
    // Trusts certificate for host and port in place of any earlier one; the file is replaced whole.
    bool trust(const QString& host, quint16 port, const QByteArray& certificate, QString* error = nullptr) const;

private:
    QString m_programFolder;
};

// "AB:CD:...": the SHA-256 fingerprint of a certificate (DER) as users compare it.
QString certificateFingerprint(const QByteArray& certificate);

} // namespace sondrel::mail
