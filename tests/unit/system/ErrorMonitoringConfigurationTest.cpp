#include <gtest/gtest.h>

#include "system/BundleInfo.h"
#include "system/ErrorMonitoringConfiguration.h"
#include "system/SentryDsn.h"

using namespace tessvale;

namespace {

const QString kDsn = "https://publickey@ingest.tessvale.example/42";

std::optional<ErrorMonitoringConfiguration> make(
    QVariantMap info, std::optional<QString> identifier = "com.tessvale.mac", bool debug = false)
{
    return ErrorMonitoringConfiguration::make(info, identifier, debug);
}

} // namespace

TEST(ErrorMonitoringConfiguration, BlankOrMissingKeyLeavesMonitoringOff)
{
    EXPECT_FALSE(make({}).has_value());
    EXPECT_FALSE(make({ { "SENTRY_DSN", " \n\t " } }).has_value());
    EXPECT_FALSE(make({ { "SENTRY_DSN", 42 } }).has_value()) << "a value that is not a string counts as absent";
    EXPECT_FALSE(ErrorMonitoringConfiguration::make(std::nullopt, "com.tessvale.mac", false).has_value());
}

TEST(ErrorMonitoringConfiguration, EnvironmentDefaultsToReleaseOrDebug)
{
    EXPECT_EQ(make({ { "SENTRY_DSN", kDsn } })->environment, "release");
    EXPECT_EQ(make({ { "SENTRY_DSN", kDsn }, { "SENTRY_ENVIRONMENT", "  " } })->environment, "release");
    EXPECT_EQ(make({ { "SENTRY_DSN", kDsn } }, "com.tessvale.mac", true)->environment, "debug");
    EXPECT_EQ(make({ { "SENTRY_DSN", kDsn }, { "SENTRY_ENVIRONMENT", " staging\n" } })->environment, "staging");
    EXPECT_EQ(make({ { "SENTRY_DSN", "  " + kDsn + "\n" } })->dsn, kDsn);
}

TEST(ErrorMonitoringConfiguration, ReleaseNameFromIdentifierVersionAndBuild)
{
    const auto both
        = make({ { "SENTRY_DSN", kDsn }, { "CFBundleShortVersionString", "1.2" }, { "CFBundleVersion", "45" } });
    EXPECT_EQ(both->releaseName, "com.tessvale.mac@1.2+45");
    EXPECT_EQ(both->dist, "45");
    const auto buildOnly = make({ { "SENTRY_DSN", kDsn }, { "CFBundleVersion", "45" } });
    EXPECT_EQ(buildOnly->releaseName, "com.tessvale.mac@45");
    const auto versionOnly = make({ { "SENTRY_DSN", kDsn }, { "CFBundleShortVersionString", "1.2" } });
    EXPECT_EQ(versionOnly->releaseName, "com.tessvale.mac@1.2");
    EXPECT_FALSE(versionOnly->dist.has_value());
    const auto bare = make({ { "SENTRY_DSN", kDsn } }, std::nullopt);
    EXPECT_EQ(bare->releaseName, "tessvale-mac");
    EXPECT_FALSE(bare->dist.has_value());
    EXPECT_EQ(make({ { "SENTRY_DSN", kDsn } }, " ")->releaseName, "tessvale-mac");
}

TEST(BundleInfo, CompiledBundleNamesIdentifierVersionAndScheme)
{
    const BundleInfo& bundle = BundleInfo::main();
    ASSERT_TRUE(bundle.infoDictionary().has_value());
    EXPECT_EQ(bundle.bundleIdentifier(), "com.tessvale.mac");
    EXPECT_TRUE(bundle.string("CFBundleShortVersionString").has_value());
    EXPECT_EQ(bundle.urlSchemes(), QStringList { "tessvale" });
}

TEST(SentryDsn, ParsesKeyHostPortAndProject)
{
    QString error;
    const auto dsn = SentryDsn::parse("https://abc123@ingest.tessvale.example:8443/prefix/7", &error);
    ASSERT_TRUE(dsn.has_value()) << error.toStdString();
    EXPECT_EQ(dsn->publicKey, "abc123");
    EXPECT_EQ(dsn->projectId, "7");
    EXPECT_EQ(dsn->envelopeEndpoint.toString(), "https://ingest.tessvale.example:8443/prefix/api/7/envelope/");
    EXPECT_EQ(dsn->authHeader(), "Sentry sentry_version=7, sentry_client=tessvale-native/1.0, sentry_key=abc123");
    const auto local = SentryDsn::parse("http://KEY@127.0.0.1:9000/1");
    ASSERT_TRUE(local.has_value());
    EXPECT_EQ(local->envelopeEndpoint.toString(), "http://127.0.0.1:9000/api/1/envelope/");
}

TEST(SentryDsn, RejectsMissingKeyBadUrlAndMissingProject)
{
    QString error;
    EXPECT_FALSE(SentryDsn::parse("https://ingest.tessvale.example/42", &error).has_value());
    EXPECT_EQ(error, "The reporting key has no public key.");
    EXPECT_FALSE(SentryDsn::parse("not a url at all", &error).has_value());
    EXPECT_FALSE(error.isEmpty());
    EXPECT_FALSE(SentryDsn::parse("https://key@ho st/1", &error).has_value());
    EXPECT_FALSE(SentryDsn::parse("ftp://key@ingest.tessvale.example/42", &error).has_value());
    EXPECT_EQ(error, "The reporting key must be an http or https URL.");
    EXPECT_FALSE(SentryDsn::parse("https://key@ingest.tessvale.example/", &error).has_value());
    EXPECT_EQ(error, "The reporting key names no project.");
    EXPECT_FALSE(SentryDsn::parse("", &error).has_value());
}
