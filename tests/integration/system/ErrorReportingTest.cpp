#include <gtest/gtest.h>

#include <thread>

#include <QDateTime>
#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include "platform/linux/system/NetworkEnvelopeTransport.h"
#include "support/HelperPrograms.h"
#include "support/async/EventLoopWaits.h"
#include "support/system/LoopbackIngestServer.h"
#include "system/ErrorReporter.h"

using namespace tessvale;
using namespace std::chrono_literals;
using tessvale::testing::helperProgramPath;
using tessvale::testing::IngestRequest;
using tessvale::testing::LoopbackIngestServer;

namespace {

QJsonObject eventOf(const IngestRequest& request)
{
    const tessvale::testing::ParsedEnvelope parsed = tessvale::testing::parseEnvelope(request.body);
    EXPECT_TRUE(parsed.valid) << parsed.error.toStdString();
    if (!parsed.valid)
        return {};
    const QJsonObject header = QJsonDocument::fromJson(parsed.headerLine).object();
    const QJsonObject item = QJsonDocument::fromJson(parsed.items[0].headerLine).object();
    EXPECT_EQ(item["type"].toString(), "event");
    const QJsonObject event = QJsonDocument::fromJson(parsed.items[0].payload).object();
    EXPECT_EQ(event["event_id"].toString(), header["event_id"].toString());
    return event;
}

void expectIngestRequest(const IngestRequest& request)
{
    EXPECT_EQ(request.method, "POST");
    EXPECT_EQ(request.path, "/api/1/envelope/");
    EXPECT_EQ(request.headers.value("x-sentry-auth"),
        "Sentry sentry_version=7, sentry_client=tessvale-native/1.0, sentry_key=KEY");
    EXPECT_EQ(request.headers.value("content-type"), "application/x-sentry-envelope");
}

QString exceptionType(const QJsonObject& event)
{
    return event["exception"].toObject()["values"].toArray()[0].toObject()["type"].toString();
}

class ErrorReportingTest : public ::testing::Test
{
protected:
    ErrorMonitoringConfiguration configurationFor(quint16 port) const
    {
        return ErrorMonitoringConfiguration { QStringLiteral("http://KEY@127.0.0.1:%1/1").arg(port), "integration",
            "com.tessvale.mac@1.2+45", QString("45") };
    }

    ErrorReporterOptions options(const QString& queue) const
    {
        ErrorReporterOptions options;
        options.queueDirectory = queue;
        options.transport = std::make_shared<NetworkEnvelopeTransport>();
        options.installCrashHandler = false;
        options.hangThreshold = std::chrono::milliseconds(0);
        return options;
    }

    QStringList queued(const QString& queue) const { return QDir(queue).entryList({ "*.envelope" }, QDir::Files); }

    QTemporaryDir m_dir;
    LoopbackIngestServer m_server;
};

// A free port nobody listens on: bound once, then released.
quint16 deadPort()
{
    LoopbackIngestServer probe;
    probe.listen();
    const quint16 port = probe.port();
    probe.close();
    return port;
}

} // namespace

TEST_F(ErrorReportingTest, CapturedMessageAndErrorArriveAsValidEnvelopes)
{
    ASSERT_TRUE(m_server.listen());
    const QString queue = m_dir.filePath("queue");
    auto reporter = ErrorReporter::create(configurationFor(m_server.port()), options(queue));
    ASSERT_TRUE(reporter);
    reporter->addBreadcrumb(Breadcrumb { QDateTime(), "dictation", "Connected.", SentryLevel::info, {} });
    const QString messageId
        = reporter->captureMessage("Stream stalled", "dictation", { { "session", "s1" } }, SentryLevel::warning);
    const QString errorId
        = reporter->captureException(SentryException { "tessvale::CloudClientError", "The server answered 502." },
            { { "operation", "Refreshing" } });
    ASSERT_TRUE(m_server.waitForRequests(2));

    QMap<QString, QJsonObject> events;
    for (const IngestRequest& request : m_server.requests()) {
        expectIngestRequest(request);
        const QJsonObject event = eventOf(request);
        events.insert(event["event_id"].toString(), event);
    }
    ASSERT_TRUE(events.contains(messageId));
    ASSERT_TRUE(events.contains(errorId));
    EXPECT_EQ(events[messageId]["message"].toObject()["formatted"].toString(), "Stream stalled");
    EXPECT_EQ(events[messageId]["level"].toString(), "warning");
    EXPECT_EQ(events[errorId]["level"].toString(), "error");
    EXPECT_EQ(exceptionType(events[errorId]), "tessvale::CloudClientError");
    EXPECT_EQ(events[errorId]["extra"].toObject()["operation"].toString(), "Refreshing");
    EXPECT_EQ(events[errorId]["release"].toString(), "com.tessvale.mac@1.2+45");
    EXPECT_EQ(events[errorId]["environment"].toString(), "integration");
    EXPECT_EQ(events[errorId]["breadcrumbs"].toObject()["values"].toArray().size(), 1);

    EXPECT_TRUE(waitUntil([&] { return queued(queue).isEmpty(); })) << "delivered envelopes leave the queue";
}

TEST_F(ErrorReportingTest, ReportsMadeOfflineArriveAfterRestart)
{
    const quint16 port = deadPort();
    const QString queue = m_dir.filePath("queue");
    {
        auto offline = ErrorReporter::create(configurationFor(port), options(queue));
        QSignalSpy finished(offline.get(), &ErrorReporter::envelopeFinished);
        offline->captureMessage("Offline message", "test", {}, SentryLevel::info);
        offline->captureException(SentryException { "std::runtime_error", "Offline error" }, {});
        waitUntil([&] { return finished.size() >= 2; });
        ASSERT_EQ(finished.size(), 2);
        EXPECT_EQ(finished[0][1].value<EnvelopeDelivery>(), EnvelopeDelivery::retryLater);
        EXPECT_EQ(queued(queue).size(), 2);
    }

    ASSERT_TRUE(m_server.listen(port)) << "the released port is free again";
    auto restarted = ErrorReporter::create(configurationFor(port), options(queue));
    ASSERT_TRUE(m_server.waitForRequests(2));
    QStringList received;
    for (const IngestRequest& request : m_server.requests()) {
        expectIngestRequest(request);
        const QJsonObject event = eventOf(request);
        received.append(event.contains("message")
                ? event["message"].toObject()["formatted"].toString()
                : event["exception"].toObject()["values"].toArray()[0].toObject()["value"].toString());
    }
    received.sort();
    EXPECT_EQ(received, (QStringList { "Offline error", "Offline message" }));
    EXPECT_TRUE(waitUntil([&] { return queued(queue).isEmpty(); }));
}

TEST_F(ErrorReportingTest, PlantedApiKeysNeverReachTheIngestServer)
{
    // Every shape an error text may carry, each with its own secret, planted in every text of an event.
    const QStringList shapes {
        QStringLiteral(R"({"apiKey":"%1"})"),
        QStringLiteral(R"(apiKey: "%1")"),
        QStringLiteral(R"(apiKey="%1")"),
        QStringLiteral("apiKey=%1&next=1"),
        QStringLiteral("x-tessvale-api-key: %1"),
        QStringLiteral("{\"apiKey\"\u00A0:\u00A0\"%1\"}"),
        QStringLiteral("apiKey\u2003:\u2009\"%1\""),
        QStringLiteral("{\"apiKey\"\u3000=\u3000\"%1\"}"),
        QStringLiteral("key tv_live_%1"),
    };
    ASSERT_TRUE(m_server.listen());
    auto reporter = ErrorReporter::create(configurationFor(m_server.port()), options(m_dir.filePath("queue")));
    QStringList secrets;
    for (qsizetype i = 0; i < shapes.size(); ++i) {
        const QString secret = QStringLiteral("PLANTED%1SECRET").arg(i);
        secrets.append(secret);
        const QString text = shapes[i].arg(secret);
        reporter->addBreadcrumb(Breadcrumb { QDateTime(), text, text, SentryLevel::info, { { text, text } } });
        reporter->captureMessage(text, text, { { "body", text }, { "apiKey", secret } }, SentryLevel::warning);
        reporter->captureException(SentryException { text, text }, { { text, text } });
    }
    ASSERT_TRUE(m_server.waitForRequests(2 * shapes.size()));
    int loggers = 0;
    for (const IngestRequest& request : m_server.requests()) {
        for (const QString& secret : secrets)
            EXPECT_FALSE(request.body.contains(secret.toUtf8())) << secret.toStdString();
        const QString logger = eventOf(request)["logger"].toString();
        loggers += logger.isEmpty() ? 0 : 1;
        EXPECT_TRUE(logger.isEmpty() || logger.contains("[Filtered]")) << logger.toStdString();
    }
    EXPECT_EQ(loggers, shapes.size()) << "each message names its category as the logger";
}

class CrashReportTest : public ErrorReportingTest,
                        public ::testing::WithParamInterface<std::pair<const char*, const char*>>
{
};

TEST_P(CrashReportTest, CrashedChildIsReportedAtTheNextStart)
{
    const auto [mode, signalName] = GetParam();
    ASSERT_TRUE(m_server.listen());
    const QString dsn = QStringLiteral("http://KEY@127.0.0.1:%1/1").arg(m_server.port());
    const qint64 before = QDateTime::currentSecsSinceEpoch();

    QProcess child;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("XDG_CACHE_HOME", m_dir.filePath("cache"));
    // Let the child's own handler decide; sanitizers would otherwise take the signal first or
    // turn the crash into an ordinary exit.
    environment.insert("ASAN_OPTIONS", "handle_segv=0:handle_abort=0:detect_leaks=0");
    child.setProcessEnvironment(environment);
    child.start(helperProgramPath("tessvale-crashing-child"), { dsn, QString::fromLatin1(mode) });
    ASSERT_TRUE(child.waitForFinished(60000));
    EXPECT_EQ(child.exitStatus(), QProcess::CrashExit) << child.readAllStandardError().toStdString();
    EXPECT_TRUE(child.readAllStandardOutput().contains("STARTED"));

    const QString queue = m_dir.filePath("cache/tessvale/error-monitoring");
    const QStringList crashFiles = QDir(queue).entryList({ "*-crash-*.envelope" }, QDir::Files);
    ASSERT_EQ(crashFiles.size(), 1) << QDir(queue).entryList().join(' ').toStdString();
    EXPECT_TRUE(QDir(queue).entryList({ "*.part" }, QDir::Files).isEmpty());
    EXPECT_TRUE(m_server.requests().isEmpty()) << "nothing is sent from inside the dying process";

    auto nextStart = ErrorReporter::create(configurationFor(m_server.port()), options(queue));
    ASSERT_TRUE(m_server.waitForRequests(1));
    const IngestRequest& request = m_server.requests()[0];
    expectIngestRequest(request);
    const QJsonObject event = eventOf(request);
    EXPECT_EQ(event["level"].toString(), "fatal");
    EXPECT_EQ(exceptionType(event), signalName);
    EXPECT_EQ(event["release"].toString(), "com.tessvale.mac@1.2+45");
    EXPECT_EQ(event["environment"].toString(), "crash-test");
    EXPECT_EQ(event["dist"].toString(), "45");
    const qint64 crashTime = event["timestamp"].toInteger();
    EXPECT_GE(crashTime, before);
    EXPECT_LE(crashTime, QDateTime::currentSecsSinceEpoch());
    const QJsonArray crumbs = event["breadcrumbs"].toObject()["values"].toArray();
    ASSERT_FALSE(crumbs.isEmpty());
    EXPECT_EQ(crumbs.last().toObject()["message"].toString(), "About to crash");
}

INSTANTIATE_TEST_SUITE_P(FatalSignals, CrashReportTest,
    ::testing::Values(std::make_pair("segv", "SIGSEGV"), std::make_pair("abort", "SIGABRT")),
    [](const auto& row) { return std::string(row.param.first); });

TEST_F(ErrorReportingTest, BlockedMainThreadIsReportedAsAHang)
{
    ASSERT_TRUE(m_server.listen());
    ErrorReporterOptions watched = options(m_dir.filePath("queue"));
    watched.hangThreshold = std::chrono::milliseconds(300);
    auto reporter = ErrorReporter::create(configurationFor(m_server.port()), watched);
    // A stalled machine stopping the loop past the threshold would be a hang of its own.
    if (spinEventLoop(100ms) >= watched.hangThreshold)
        GTEST_SKIP() << "the machine stalled the event loop: inconclusive";
    // The hang, well past the threshold.
    std::this_thread::sleep_for(900ms);
    ASSERT_TRUE(m_server.waitForRequests(1));
    const QJsonObject event = eventOf(m_server.requests()[0]);
    EXPECT_EQ(exceptionType(event), "App Hanging");
    if (spinEventLoop(300ms) >= watched.hangThreshold)
        GTEST_SKIP() << "the machine stalled the event loop after the hang: no check that one hang made one report";
    EXPECT_EQ(m_server.requests().size(), 1) << "one hang, one report";
}
