#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include "support/async/EventLoopWaits.h"
#include "support/system/LoopbackIngestServer.h"
#include "support/system/RecordingEnvelopeTransport.h"
#include "system/BreadcrumbRing.h"
#include "system/ErrorReporter.h"
#include "system/ReportScrubber.h"
#include "system/SentryEvent.h"

using namespace tessvale;
using tessvale::testing::RecordingEnvelopeTransport;

namespace {

ErrorMonitoringConfiguration configuration()
{
    return ErrorMonitoringConfiguration { "http://KEY@127.0.0.1:9/1", "staging", "com.tessvale.mac@1.2+45",
        QString("45") };
}

QJsonObject payloadOf(const QByteArray& envelope)
{
    const tessvale::testing::ParsedEnvelope parsed = tessvale::testing::parseEnvelope(envelope);
    EXPECT_TRUE(parsed.valid) << parsed.error.toStdString();
    if (parsed.items.isEmpty())
        return {};
    return QJsonDocument::fromJson(parsed.items[0].payload).object();
}

class ReporterTest : public ::testing::Test
{
protected:
    std::unique_ptr<ErrorReporter> makeReporter(int breadcrumbs = BreadcrumbRing::defaultCapacity)
    {
        ErrorReporterOptions options;
        options.queueDirectory = m_dir.filePath("queue");
        options.transport = m_transport;
        options.installCrashHandler = false;
        options.hangThreshold = std::chrono::milliseconds(0);
        options.breadcrumbCapacity = breadcrumbs;
        return ErrorReporter::create(configuration(), options);
    }

    // Until sends envelopes went out and none is on its way.
    void waitIdle(ErrorReporter& reporter, qsizetype sends = 1)
    {
        tessvale::waitUntil([&] { return reporter.sendsInFlight() == 0 && m_transport->sent.size() >= sends; });
    }

    QTemporaryDir m_dir;
    std::shared_ptr<RecordingEnvelopeTransport> m_transport = std::make_shared<RecordingEnvelopeTransport>();
};

} // namespace

TEST(SentryEnvelope, HeaderItemHeaderAndPayloadLines)
{
    const QByteArray payload = R"({"message":{"formatted":"héllo"}})";
    const QByteArray envelope = sentryEnvelope("0123456789abcdef0123456789abcdef", "http://KEY@127.0.0.1:9/1", payload,
        QDateTime(QDate(2026, 1, 2), QTime(3, 4, 5, 6), Qt::UTC));
    const QList<QByteArray> lines = envelope.split('\n');
    ASSERT_EQ(lines.size(), 4);
    EXPECT_EQ(lines[3], "") << "the envelope ends with a newline";
    const QJsonObject header = QJsonDocument::fromJson(lines[0]).object();
    EXPECT_EQ(header["event_id"].toString(), "0123456789abcdef0123456789abcdef");
    EXPECT_EQ(header["dsn"].toString(), "http://KEY@127.0.0.1:9/1");
    EXPECT_EQ(header["sent_at"].toString(), "2026-01-02T03:04:05.006Z");
    const QJsonObject item = QJsonDocument::fromJson(lines[1]).object();
    EXPECT_EQ(item["type"].toString(), "event");
    EXPECT_EQ(item["content_type"].toString(), "application/json");
    EXPECT_EQ(item["length"].toInteger(), payload.size()) << "the length counts UTF-8 bytes";
    EXPECT_EQ(lines[2], payload);
}

TEST(SentryEnvelope, EventCarriesReleaseEnvironmentDistLevelAndBreadcrumbs)
{
    SentryEvent event;
    event.eventId = SentryEvent::newEventId();
    event.timestamp = QDateTime::currentDateTimeUtc();
    event.level = SentryLevel::warning;
    event.message = QString("Something odd");
    event.extras = { { "target", "Editor" } };
    event.breadcrumbs.append(
        Breadcrumb { QDateTime::currentDateTimeUtc(), "dictation", "Started", SentryLevel::info, { { "k", "v" } } });
    const QJsonObject payload = QJsonDocument::fromJson(sentryEventPayload(event, configuration())).object();
    EXPECT_EQ(event.eventId.size(), 32);
    EXPECT_EQ(payload["event_id"].toString(), event.eventId);
    EXPECT_EQ(payload["release"].toString(), "com.tessvale.mac@1.2+45");
    EXPECT_EQ(payload["environment"].toString(), "staging");
    EXPECT_EQ(payload["dist"].toString(), "45");
    EXPECT_EQ(payload["level"].toString(), "warning");
    EXPECT_EQ(payload["platform"].toString(), "native");
    EXPECT_EQ(payload["message"].toObject()["formatted"].toString(), "Something odd");
    EXPECT_EQ(payload["extra"].toObject()["target"].toString(), "Editor");
    const QJsonObject crumb = payload["breadcrumbs"].toObject()["values"].toArray()[0].toObject();
    EXPECT_EQ(crumb["category"].toString(), "dictation");
    EXPECT_EQ(crumb["message"].toString(), "Started");
    EXPECT_EQ(crumb["level"].toString(), "info");
    EXPECT_EQ(crumb["data"].toObject()["k"].toString(), "v");
}

TEST(BreadcrumbRing, KeepsOnlyTheNewestUpToItsCapacity)
{
    BreadcrumbRing ring(3);
    for (int i = 0; i < 5; ++i)
        ring.add(Breadcrumb { QDateTime(), "c", QString::number(i), SentryLevel::info, {} });
    ASSERT_EQ(ring.size(), 3);
    const QList<Breadcrumb> kept = ring.snapshot();
    EXPECT_EQ(kept[0].message, "2");
    EXPECT_EQ(kept[2].message, "4");
}

TEST(ReportScrubber, RemovesApiKeysAndApiKeyMembers)
{
    EXPECT_EQ(scrubSecrets("key tv_live_AbC123-x_9 failed"), "key [Filtered] failed");
    EXPECT_EQ(scrubSecrets("tv_test_abc"), "[Filtered]");
    EXPECT_EQ(scrubSecrets(R"({"ApiKey": "secret\"quoted", "Name":"x"})"), R"({"ApiKey": "[Filtered]", "Name":"x"})");
    EXPECT_EQ(scrubSecrets(R"({"apiKey":"s3cret"})"), R"({"apiKey":"[Filtered]"})");
    // A value cut off before its closing quote (a truncated body) must not leave its tail behind.
    EXPECT_EQ(scrubSecrets(R"({"apiKey":"s3cr\"et-tail...)"), R"({"apiKey":"[Filtered]")");
    EXPECT_EQ(scrubSecrets(R"({"apiKey":"s3cret\)"), R"({"apiKey":"[Filtered]")");
    EXPECT_EQ(scrubSecrets("GET /x?apiKey=s3cret&y=1"), "GET /x?apiKey=[Filtered]&y=1");
    EXPECT_EQ(scrubSecrets("x-tessvale-api-key: s3cret"), "x-tessvale-api-key: [Filtered]");
    EXPECT_EQ(scrubSecrets("nothing secret here"), "nothing secret here");
    const QMap<QString, QString> data
        = scrubSecrets(QMap<QString, QString> { { "apiKey", "plain" }, { "body", "tv_live_x" } });
    EXPECT_EQ(data.value("apiKey"), "[Filtered]");
    EXPECT_EQ(data.value("body"), "[Filtered]");
}

TEST(ReportScrubber, EveryApiKeyShapeGetsTheReportsMarker)
{
    const QList<std::pair<QString, QString>> table {
        { QStringLiteral("{\"apiKey\"\u00A0:\u00A0\"SECRET\"}"),
            QStringLiteral("{\"apiKey\"\u00A0:\u00A0\"[Filtered]\"}") },
        { QStringLiteral("{\"apiKey\"\u3000:\u2028\"SECRET\"}"),
            QStringLiteral("{\"apiKey\"\u3000:\u2028\"[Filtered]\"}") },
        { QStringLiteral("apiKey\u2003:\u2009\"SECRET\""), QStringLiteral("apiKey\u2003:\u2009\"[Filtered]\"") },
        { R"(failed: apiKey: "SECRET")", R"(failed: apiKey: "[Filtered]")" },
        { R"(failed: apiKey="SECRET" then)", R"(failed: apiKey="[Filtered]" then)" },
        { R"(failed: API_KEY = "SECRET")", R"(failed: API_KEY = "[Filtered]")" },
        { QStringLiteral("apiKey\u00A0=\u00A0SECRET"), QStringLiteral("apiKey\u00A0=\u00A0[Filtered]") },
        { R"({"apiKey":""})", R"({"apiKey":""})" },
    };
    for (const auto& [text, expected] : table)
        EXPECT_EQ(scrubSecrets(text), expected) << text.toStdString();
}

TEST_F(ReporterTest, CapturedMessageIsQueuedSentAndForgotten)
{
    auto reporter = makeReporter();
    ASSERT_TRUE(reporter);
    reporter->addBreadcrumb(Breadcrumb { QDateTime(), "dictation", "Connected.", SentryLevel::info, {} });
    const QString id
        = reporter->captureMessage("Stream stalled", "dictation", { { "session", "s1" } }, SentryLevel::warning);
    waitIdle(*reporter);
    ASSERT_EQ(m_transport->sent.size(), 1);
    EXPECT_EQ(m_transport->sent[0].endpoint.toString(), "http://127.0.0.1:9/api/1/envelope/");
    EXPECT_TRUE(m_transport->sent[0].authHeader.endsWith("sentry_key=KEY"));
    const QJsonObject payload = payloadOf(m_transport->sent[0].envelope);
    EXPECT_EQ(payload["event_id"].toString(), id);
    EXPECT_EQ(payload["level"].toString(), "warning");
    EXPECT_EQ(payload["logger"].toString(), "dictation");
    EXPECT_EQ(payload["breadcrumbs"].toObject()["values"].toArray().size(), 1);
    EXPECT_TRUE(QDir(m_dir.filePath("queue")).isEmpty()) << "a delivered envelope leaves the queue";
}

TEST_F(ReporterTest, UndeliveredEnvelopeStaysQueuedAndRefusedOneIsDropped)
{
    m_transport->answer = EnvelopeDelivery::retryLater;
    auto reporter = makeReporter();
    reporter->captureException(SentryException { "CloudClientError", "HTTP 503" }, {});
    waitIdle(*reporter);
    EXPECT_EQ(QDir(m_dir.filePath("queue")).entryList(QDir::Files).size(), 1);

    m_transport->answer = EnvelopeDelivery::rejected;
    reporter->sendQueued();
    waitIdle(*reporter, 2);
    EXPECT_EQ(m_transport->sent.size(), 2);
    EXPECT_TRUE(QDir(m_dir.filePath("queue")).entryList(QDir::Files).isEmpty());
}

TEST_F(ReporterTest, ApiKeysNeverLeaveTheProcess)
{
    auto reporter = makeReporter();
    reporter->addBreadcrumb(Breadcrumb {
        QDateTime(), "http", "Sent tv_live_crumbsecret", SentryLevel::info, { { "apiKey", "tv_test_datasecret" } } });
    reporter->captureException(SentryException { "CloudClientError", R"(Request failed: {"ApiKey":"plainsecret"})" },
        { { "body", "tv_live_extrasecret" } });
    waitIdle(*reporter);
    ASSERT_EQ(m_transport->sent.size(), 1);
    const QByteArray body = m_transport->sent[0].envelope;
    for (const char* secret : { "crumbsecret", "datasecret", "plainsecret", "extrasecret" })
        EXPECT_FALSE(body.contains(secret)) << secret;
}

// The account's address is in the activity log for the user; a report, sent or queued on disk, has none.
TEST_F(ReporterTest, AccountAddressesNeverLeaveTheProcess)
{
    m_transport->answer = EnvelopeDelivery::retryLater;
    auto reporter = makeReporter();
    reporter->addBreadcrumb(Breadcrumb { QDateTime(), "dictation", "Authenticated as Someone.Else+tv@Mail.Example.com.",
        SentryLevel::info, { { "account", "jörg@bücher.example" } } });
    reporter->captureException(SentryException { "CloudClientError", "No device for a.b@example.org" }, {});
    waitIdle(*reporter);
    ASSERT_EQ(m_transport->sent.size(), 1);
    const QStringList queued = QDir(m_dir.filePath("queue")).entryList(QDir::Files);
    ASSERT_EQ(queued.size(), 1);
    QFile file(QDir(m_dir.filePath("queue")).filePath(queued[0]));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    for (const QByteArray& envelope : { m_transport->sent[0].envelope, file.readAll() }) {
        EXPECT_FALSE(envelope.contains("Example.com")) << envelope.constData();
        EXPECT_FALSE(envelope.contains("b\u00fccher") || envelope.contains("bücher")) << envelope.constData();
        EXPECT_FALSE(envelope.contains("example.org")) << envelope.constData();
        const QJsonObject payload = payloadOf(envelope);
        const QJsonObject crumb = payload["breadcrumbs"].toObject()["values"].toArray()[0].toObject();
        EXPECT_EQ(crumb["message"].toString(), "Authenticated as [Filtered].");
        EXPECT_EQ(payload["release"].toString(), "com.tessvale.mac@1.2+45");
    }
}

TEST_F(ReporterTest, BreadcrumbsInEventsAreBounded)
{
    auto reporter = makeReporter(5);
    for (int i = 0; i < 12; ++i)
        reporter->addBreadcrumb(Breadcrumb { QDateTime(), "c", QString::number(i), SentryLevel::info, {} });
    reporter->captureMessage("m", "c", {}, SentryLevel::info);
    waitIdle(*reporter);
    ASSERT_EQ(m_transport->sent.size(), 1);
    const QJsonArray crumbs = payloadOf(m_transport->sent[0].envelope)["breadcrumbs"].toObject()["values"].toArray();
    ASSERT_EQ(crumbs.size(), 5);
    EXPECT_EQ(crumbs[0].toObject()["message"].toString(), "7");
    EXPECT_EQ(crumbs[4].toObject()["message"].toString(), "11");
}

TEST(ErrorReporter, UnusableKeyCreatesNoReporter)
{
    QString error;
    ErrorMonitoringConfiguration bad = configuration();
    bad.dsn = "https://no-project.example";
    EXPECT_EQ(ErrorReporter::create(bad, {}, &error), nullptr);
    EXPECT_FALSE(error.isEmpty());
}
