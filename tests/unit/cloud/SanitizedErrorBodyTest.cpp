#include <gtest/gtest.h>

#include <QList>
#include <QString>

#include "cloud/CloudAPIClient.h"

namespace tessvale {
namespace {

QString sanitize(const QString& text)
{
    return CloudAPIClient::sanitizedErrorBody(text.toUtf8());
}

TEST(SanitizedErrorBody, ApiKeyMemberIsRedactedInAnyLetterCaseAndSpacing)
{
    EXPECT_EQ(sanitize(QStringLiteral(R"({"ApiKey" :  "abc123","error":"bad"})")),
        QStringLiteral(R"({"apiKey":"<redacted>","error":"bad"})"));
    EXPECT_EQ(sanitize(QStringLiteral(R"({"APIKEY":"x"})")), QStringLiteral(R"({"apiKey":"<redacted>"})"));
}

TEST(SanitizedErrorBody, EmptyApiKeyValueIsLeftAlone)
{
    EXPECT_EQ(sanitize(QStringLiteral(R"({"apiKey":""})")), QStringLiteral(R"({"apiKey":""})"));
}

TEST(SanitizedErrorBody, EveryApiKeyShapeGetsTheClientsReplacement)
{
    const QList<std::pair<QString, QString>> table {
        { QStringLiteral("{\"apiKey\"\u00A0:\u00A0\"SECRET\"}"), R"({"apiKey":"<redacted>"})" }, // no-break space
        { QStringLiteral("{\"apiKey\"\u2028:\u2028\"SECRET\"}"), R"({"apiKey":"<redacted>"})" }, // line separator
        { QStringLiteral("{\"apiKey\"\u3000:\u3000\"SECRET\"}"), R"({"apiKey":"<redacted>"})" }, // ideographic space
        { QStringLiteral("{\"apiKey\"\u2003:\u2009\"SECRET\"}"), R"({"apiKey":"<redacted>"})" }, // em, thin
        { R"(bad apiKey: "SECRET")", R"(bad "apiKey":"<redacted>")" },
        { R"(bad apiKey="SECRET")", R"(bad "apiKey":"<redacted>")" },
        { QStringLiteral("bad api_key\u00A0=\u00A0\"SECRET\""), R"(bad "apiKey":"<redacted>")" },
        { R"({"error":"apiKey: required"})", R"({"error":"apiKey: required"})" },
        { QStringLiteral("key\u00A0tv_live_SECRET"), QStringLiteral("key\u00A0tv_live_<redacted>") },
    };
    for (const auto& [body, expected] : table)
        EXPECT_EQ(sanitize(body), expected) << body.toStdString();
}

TEST(SanitizedErrorBody, ControlCharactersAreEscapedSoNoLogLineCanBeForged)
{
    EXPECT_EQ(sanitize(QStringLiteral("bad\r\n2026-01-01 app: Signed out\tnow\u001b[2J\u2028end\u0085")),
        QStringLiteral(R"(bad\r\n2026-01-01 app: Signed out\tnow\u001b[2J\u2028end\u0085)"));
    EXPECT_EQ(sanitize(QStringLiteral("caf\u00e9 \u2014 ok")), QStringLiteral("caf\u00e9 \u2014 ok"));
}

TEST(SanitizedErrorBody, EscapedQuoteDoesNotLeakTheRestOfTheKey)
{
    const QString body = QStringLiteral(R"({"apiKey":"start\"secretTail\\","next":1})");
    const QString sanitized = sanitize(body);
    EXPECT_EQ(sanitized, QStringLiteral(R"({"apiKey":"<redacted>","next":1})"));
    EXPECT_FALSE(sanitized.contains(QStringLiteral("secretTail")));
}

TEST(SanitizedErrorBody, UnterminatedApiKeyValueIsRedactedToTheEnd)
{
    EXPECT_EQ(sanitize(QStringLiteral(R"({"apiKey":"abc\"def)")), QStringLiteral(R"({"apiKey":"<redacted>")"));
    EXPECT_EQ(sanitize(QStringLiteral(R"({"apiKey":"abc\)")), QStringLiteral(R"({"apiKey":"<redacted>")"));
}

TEST(SanitizedErrorBody, LiveAndTestKeysKeepOnlyTheirPrefix)
{
    EXPECT_EQ(sanitize(QStringLiteral("key tv_live_AbC-9_x1 was refused")),
        QStringLiteral("key tv_live_<redacted> was refused"));
    EXPECT_EQ(
        sanitize(QStringLiteral("tv_test_zz,tv_test_q")), QStringLiteral("tv_test_<redacted>,tv_test_<redacted>"));
    EXPECT_EQ(sanitize(QStringLiteral("tv_prod_abc TV_LIVE_abc")), QStringLiteral("tv_prod_abc TV_LIVE_abc"));
}

TEST(SanitizedErrorBody, LongTextIsCutTo512CharactersAndMarked)
{
    EXPECT_EQ(sanitize(QString(512, QLatin1Char('a'))), QString(512, QLatin1Char('a')));
    EXPECT_EQ(sanitize(QString(600, QLatin1Char('a'))), QString(512, QLatin1Char('a')) + QStringLiteral("..."));
}

TEST(SanitizedErrorBody, LengthCountsUserPerceivedCharacters)
{
    // "e" followed by a combining acute accent is one character of two code units.
    const QString accented = QStringLiteral("e\u0301");
    EXPECT_EQ(sanitize(accented.repeated(512)), accented.repeated(512));
    EXPECT_EQ(sanitize(accented.repeated(513)), accented.repeated(512) + QStringLiteral("..."));
}

TEST(SanitizedErrorBody, KeyIsRedactedBeforeTheTextIsCut)
{
    const QString body = QString(505, QLatin1Char('a')) + QStringLiteral("tv_live_SECRETSECRETSECRET");
    const QString sanitized = sanitize(body);
    EXPECT_FALSE(sanitized.contains(QStringLiteral("SECRET")));
    EXPECT_TRUE(sanitized.endsWith(QStringLiteral("...")));
}

TEST(SanitizedErrorBody, InvalidUTF8IsUnreadable)
{
    EXPECT_EQ(CloudAPIClient::sanitizedErrorBody(QByteArray("ok \xff\xfe bad")), QStringLiteral("<unreadable>"));
}

TEST(AppendingPath, KeepsTheBasePathWithOrWithoutTrailingSlash)
{
    EXPECT_EQ(
        CloudAPIClient::appendingPath(QUrl(QStringLiteral("https://h/api")), QStringLiteral("/client/v1/me")).path(),
        QStringLiteral("/api/client/v1/me"));
    EXPECT_EQ(
        CloudAPIClient::appendingPath(QUrl(QStringLiteral("https://h/api/")), QStringLiteral("/client/v1/me/")).path(),
        QStringLiteral("/api/client/v1/me"));
    EXPECT_EQ(CloudAPIClient::appendingPath(QUrl(QStringLiteral("https://h")), QStringLiteral("health")).path(),
        QStringLiteral("/health"));
}

} // namespace
} // namespace tessvale
