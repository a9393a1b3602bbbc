#pragma once

#include <memory>

#include <gtest/gtest.h>

#include <QSslConfiguration>

#include "FakeCloudServer.h"
#include "TestCertificateAuthority.h"
#include "support/async/EventLoopWaits.h"

namespace tessvale {

// A fresh fake cloud service per test over one test CA per process. Service-supplied URLs are
// trusted for "localhost", the fake's host.
class FakeCloudFixture : public ::testing::Test
{
protected:
    void SetUp() override;
    void TearDown() override;

    static const TestCertificateAuthority& authority();
    // The client side: system defaults plus the test CA.
    static QSslConfiguration clientSsl();
    FakeCloudServer& server() { return *m_server; }

    static inline const QString trustedDomain = QStringLiteral("localhost");

private:
    std::unique_ptr<FakeCloudServer> m_server;
};

} // namespace tessvale
