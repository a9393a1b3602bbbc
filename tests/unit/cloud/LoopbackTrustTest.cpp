#include <gtest/gtest.h>

#include <QFile>
#include <QSslCertificate>
#include <QTemporaryDir>

#include "cloud/LoopbackTrust.h"

using namespace tessvale;

namespace {

const QByteArray kAuthorityPem = QByteArrayLiteral("-----BEGIN CERTIFICATE-----\n"
                                                   "MIIBlzCCAT2gAwIBAgIUVn45CTG3kb1T7Hbc4nRAwczgKTswCgYIKoZIzj0EAwIw\n"
                                                   "ITEfMB0GA1UEAwwWTG9vcGJhY2sgVHJ1c3QgVGVzdCBDQTAeFw0yNjEyMDkxMjM1\n"
                                                   "NTZaFw0zNjEyMDYxMjM1NTZaMCExHzAdBgNVBAMMFkxvb3BiYWNrIFRydXN0IFRl\n"
                                                   "c3QgQ0EwWTATBgcqhkjOPQIBBggqhkjOPQMBBwNCAAQ//8QI0Mbtxd3oM1DMJja7\n"
                                                   "z4RcybwIXhyqMgMp4QLD/z0VuQFz9I3sCj5YFAceaPtTd7Kyye7Ap2JjAY5BOAVu\n"
                                                   "o1MwUTAdBgNVHQ4EFgQUP9RI0xUNN3HweqKvNZj3UVHjvOIwHwYDVR0jBBgwFoAU\n"
                                                   "P9RI0xUNN3HweqKvNZj3UVHjvOIwDwYDVR0TAQH/BAUwAwEB/zAKBggqhkjOPQQD\n"
                                                   "AgNIADBFAiAz13E1tx+sYzRDP6fT8DOeVjGMtbdANG61AEvYkR1xeQIhAL6TFywh\n"
                                                   "6qsmSTKa7V0y7CiRtXsG0VUJZ9fGZBmnJCd8\n"
                                                   "-----END CERTIFICATE-----\n");

class LoopbackTrustTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_folder.isValid());
        QFile file(caPath());
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(kAuthorityPem);
        file.close();
        qputenv(loopbackCAFileVariable, caPath().toLocal8Bit());
    }
    void TearDown() override { qunsetenv(loopbackCAFileVariable); }

    QString caPath() const { return m_folder.filePath(QStringLiteral("ca.pem")); }
    static QSslCertificate authority() { return QSslCertificate::fromData(kAuthorityPem, QSsl::Pem).value(0); }
    static bool trusts(const std::optional<QSslConfiguration>& configuration)
    {
        return configuration && configuration->caCertificates().contains(authority());
    }

private:
    QTemporaryDir m_folder;
};

TEST_F(LoopbackTrustTest, AddsTheAuthorityForLoopbackOriginsOnly)
{
    struct Row
    {
        const char* url;
        bool trusted;
    };
    const Row rows[] = {
        { "https://localhost:27443", true },
        { "wss://LOCALHOST.:27444/client/v1/stream", true },
        { "https://127.0.0.1:27443", true },
        { "https://127.8.9.10", true },
        { "wss://[::1]:27444/client/v1/stream", true },
        { "https://api.tessvale.example", false },
        { "https://localhost.tessvale.example", false },
        { "https://127.0.0.1.nip.io", false },
        { "https://10.0.0.1", false },
        { "https://[::2]", false },
        { "https://", false },
    };
    for (const Row& row : rows) {
        const auto configuration = sslConfigurationFor(QUrl(QString::fromLatin1(row.url)), std::nullopt);
        EXPECT_EQ(trusts(configuration), row.trusted) << row.url;
        // Any other origin keeps the system defaults untouched.
        EXPECT_EQ(configuration.has_value(), row.trusted) << row.url;
    }
}

TEST_F(LoopbackTrustTest, NeedsTheVariableAndLeavesAGivenConfigurationAlone)
{
    const QUrl local(QStringLiteral("https://localhost:27443"));
    const QSslConfiguration given = QSslConfiguration::defaultConfiguration();
    EXPECT_FALSE(trusts(sslConfigurationFor(local, given)));

    qputenv(loopbackCAFileVariable, (caPath() + QStringLiteral(".missing")).toLocal8Bit());
    EXPECT_FALSE(sslConfigurationFor(local, std::nullopt).has_value());
    qunsetenv(loopbackCAFileVariable);
    EXPECT_FALSE(sslConfigurationFor(local, std::nullopt).has_value());
}

} // namespace
