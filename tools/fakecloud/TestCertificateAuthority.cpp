#include "TestCertificateAuthority.h"

#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QStringList>

namespace tessvale {

namespace {

bool runOpenSSL(const QString& folder, const QStringList& arguments, QString* error)
{
    QProcess process;
    process.setWorkingDirectory(folder);
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(QStringLiteral("openssl"), arguments);
    if (!process.waitForStarted(10000)) {
        if (error)
            *error = QStringLiteral("openssl could not be started: ") + process.errorString();
        return false;
    }
    process.waitForFinished(30000);
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
        if (error)
            *error = QStringLiteral("openssl %1 failed: %2")
                         .arg(arguments.value(0), QString::fromLocal8Bit(process.readAll()));
        return false;
    }
    return true;
}

QByteArray readFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

} // namespace

std::unique_ptr<TestCertificateAuthority> TestCertificateAuthority::create(QString* error)
{
    std::unique_ptr<TestCertificateAuthority> authority(new TestCertificateAuthority);
    if (!authority->m_directory.isValid()) {
        if (error)
            *error = QStringLiteral("No temporary folder for the test certificates.");
        return nullptr;
    }
    const QString folder = authority->m_directory.path();
    const QStringList ecKey = { QStringLiteral("-newkey"), QStringLiteral("ec"), QStringLiteral("-pkeyopt"),
        QStringLiteral("ec_paramgen_curve:prime256v1"), QStringLiteral("-nodes") };

    QFile extensions(folder + QStringLiteral("/server.ext"));
    if (!extensions.open(QIODevice::WriteOnly)) {
        if (error)
            *error = QStringLiteral("Cannot write the certificate extensions file.");
        return nullptr;
    }
    extensions.write("basicConstraints=CA:FALSE\n"
                     "keyUsage=critical,digitalSignature,keyEncipherment\n"
                     "extendedKeyUsage=serverAuth\n"
                     "subjectAltName=DNS:localhost,IP:127.0.0.1\n");
    extensions.close();

    const bool made = runOpenSSL(folder,
                          QStringList { QStringLiteral("req"), QStringLiteral("-x509") } + ecKey
                              + QStringList { QStringLiteral("-keyout"), QStringLiteral("ca.key"),
                                  QStringLiteral("-out"), QStringLiteral("ca.pem"), QStringLiteral("-days"),
                                  QStringLiteral("2"), QStringLiteral("-subj"), QStringLiteral("/CN=Tessvale Test CA"),
                                  QStringLiteral("-addext"), QStringLiteral("basicConstraints=critical,CA:TRUE"),
                                  QStringLiteral("-addext"), QStringLiteral("keyUsage=critical,keyCertSign,cRLSign") },
                          error)
        && runOpenSSL(folder,
            QStringList { QStringLiteral("req") } + ecKey
                + QStringList { QStringLiteral("-keyout"), QStringLiteral("server.key"), QStringLiteral("-out"),
                    QStringLiteral("server.csr"), QStringLiteral("-subj"), QStringLiteral("/CN=localhost") },
            error)
        && runOpenSSL(folder,
            QStringList { QStringLiteral("x509"), QStringLiteral("-req"), QStringLiteral("-in"),
                QStringLiteral("server.csr"), QStringLiteral("-CA"), QStringLiteral("ca.pem"), QStringLiteral("-CAkey"),
                QStringLiteral("ca.key"), QStringLiteral("-CAcreateserial"), QStringLiteral("-out"),
                QStringLiteral("server.pem"), QStringLiteral("-days"), QStringLiteral("2"), QStringLiteral("-extfile"),
                QStringLiteral("server.ext") },
            error);
    if (!made)
        return nullptr;

    authority->m_caCertificates = QSslCertificate::fromData(readFile(folder + QStringLiteral("/ca.pem")), QSsl::Pem);
    const auto servers = QSslCertificate::fromData(readFile(folder + QStringLiteral("/server.pem")), QSsl::Pem);
    authority->m_serverKey = QSslKey(readFile(folder + QStringLiteral("/server.key")), QSsl::Ec, QSsl::Pem);
    if (authority->m_caCertificates.isEmpty() || servers.isEmpty() || authority->m_serverKey.isNull()) {
        if (error)
            *error = QStringLiteral("The generated test certificates could not be read.");
        return nullptr;
    }
    authority->m_serverCertificate = servers.first();
    return authority;
}

QString TestCertificateAuthority::caCertificatePath() const
{
    return m_directory.path() + QStringLiteral("/ca.pem");
}

QSslConfiguration TestCertificateAuthority::serverConfiguration() const
{
    QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
    configuration.setLocalCertificate(m_serverCertificate);
    configuration.setPrivateKey(m_serverKey);
    configuration.setPeerVerifyMode(QSslSocket::VerifyNone);
    configuration.setProtocol(QSsl::TlsV1_2OrLater);
    return configuration;
}

QSslConfiguration TestCertificateAuthority::clientConfiguration() const
{
    QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
    configuration.addCaCertificates(m_caCertificates);
    return configuration;
}

} // namespace tessvale
