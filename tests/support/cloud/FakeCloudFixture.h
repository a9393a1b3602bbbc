#pragma once

#include <chrono>
#include <functional>
#include <memory>

#include <gtest/gtest.h>

#include <QSslConfiguration>

#include "FakeCloudServer.h"
#include "TestCertificateAuthority.h"

namespace tessvale {

// Runs the event loop until predicate holds or timeout passes; returns the predicate's last value.
bool waitUntil(const std::function<bool()>& predicate, std::chrono::milliseconds timeout = std::chrono::seconds(5));
// Runs the event loop for a while (to show that something does not happen).
void spinEventLoop(std::chrono::milliseconds duration);

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
