#pragma once

#include <memory>
#include <optional>

#include <QList>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslKey>
#include <QString>
#include <QTemporaryDir>

namespace tessvale {

// A throw-away certificate authority and a "localhost" server certificate signed by it, made with
// the openssl command-line tool in a temporary folder that lives as long as this object.
class TestCertificateAuthority
{
public:
    // Returns nothing (and the reason in *error) when openssl is missing or fails.
    static std::unique_ptr<TestCertificateAuthority> create(QString* error = nullptr);

    // The folder that holds ca.pem, server.pem and server.key.
    QString directory() const { return m_directory.path(); }
    QString caCertificatePath() const;

    QList<QSslCertificate> caCertificates() const { return m_caCertificates; }
    // TLS configuration of a server presenting the localhost certificate.
    QSslConfiguration serverConfiguration() const;
    // The default client configuration with the test CA added to the trusted roots.
    QSslConfiguration clientConfiguration() const;

private:
    TestCertificateAuthority() = default;

    QTemporaryDir m_directory;
    QList<QSslCertificate> m_caCertificates;
    QSslCertificate m_serverCertificate;
    QSslKey m_serverKey;
};

} // namespace tessvale
