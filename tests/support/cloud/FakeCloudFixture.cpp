#include "support/cloud/FakeCloudFixture.h"

#include <QCoreApplication>

namespace tessvale {

const TestCertificateAuthority& FakeCloudFixture::authority()
{
    static std::unique_ptr<TestCertificateAuthority> shared;
    static QString error;
    if (!shared) {
        shared = TestCertificateAuthority::create(&error);
        if (!shared)
            qFatal("The test certificate authority could not be made: %s", qPrintable(error));
    }
    return *shared;
}

QSslConfiguration FakeCloudFixture::clientSsl()
{
    return authority().clientConfiguration();
}

void FakeCloudFixture::SetUp()
{
    qputenv("TESSVALE_SERVICE_DOMAIN", trustedDomain.toUtf8());
    m_server = std::make_unique<FakeCloudServer>(authority());
    QString error;
    ASSERT_TRUE(m_server->listen(&error)) << error.toStdString();
}

void FakeCloudFixture::TearDown()
{
    m_server.reset();
    // Let closed sockets finish their deferred deletion before the next test.
    QCoreApplication::processEvents();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

} // namespace tessvale
