#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>
#include <thread>

#include <QDir>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>

#include "support/async/EventLoopWaits.h"
#include "support/system/LoopbackIngestServer.h"
#include "support/system/RecordingEnvelopeTransport.h"
#include "system/BundleInfo.h"
#include "system/ErrorMonitoring.h"
#include "system/HangWatchdog.h"

using namespace tessvale;
using tessvale::testing::RecordingEnvelopeTransport;

namespace {

QJsonObject payloadOf(const QByteArray& envelope)
{
    const tessvale::testing::ParsedEnvelope parsed = tessvale::testing::parseEnvelope(envelope);
    return parsed.items.isEmpty() ? QJsonObject() : QJsonDocument::fromJson(parsed.items[0].payload).object();
}

void settle(const RecordingEnvelopeTransport& transport, qsizetype count)
{
    tessvale::waitUntil([&] { return transport.sent.size() >= count; });
    // A moment more, for a send beyond count to show.
    spinEventLoop(std::chrono::milliseconds(20));
}

class EmptyDescriptionError : public std::exception
{
public:
    const char* what() const noexcept override { return ""; }
};

} // namespace

// Error monitoring starts once per process, so this one test walks its life in order.
TEST(ErrorMonitoring, ReportsNothingBeforeStartThenOnceStartedFromTheBundle)
{
    QTemporaryDir dir;
    auto transport = std::make_shared<RecordingEnvelopeTransport>();
    ErrorReporterOptions options;
    options.queueDirectory = dir.filePath("queue");
    options.transport = transport;
    options.installCrashHandler = false;
    options.hangThreshold = std::chrono::milliseconds(0);

    // Before start: every operation is a no-op.
    EXPECT_FALSE(ErrorMonitoring::isStarted());
    ErrorMonitoring::addBreadcrumb("dictation", "early", {}, SentryLevel::info);
    ErrorMonitoring::capture(std::runtime_error("early failure"), QString("Early"), {});
    ErrorMonitoring::captureMessage("early message", "test", {}, SentryLevel::error);

    // A bundle whose key is blank leaves monitoring off.
    ErrorMonitoring::start(DictionaryBundleInfo(QVariantMap { { "SENTRY_DSN", "  \n" } }, "com.tessvale.mac"), options);
    EXPECT_FALSE(ErrorMonitoring::isStarted());
    ErrorMonitoring::capture(std::runtime_error("still off"));
    spinEventLoop(std::chrono::milliseconds(20));
    EXPECT_TRUE(transport->sent.isEmpty());
    EXPECT_FALSE(QDir(dir.filePath("queue")).exists()) << "nothing was even queued";

    const QVariantMap info { { "SENTRY_DSN", "http://KEY@127.0.0.1:9/1" }, { "CFBundleShortVersionString", "1.2" },
        { "CFBundleVersion", "45" } };
    ErrorMonitoring::start(DictionaryBundleInfo(info, "com.tessvale.mac"), options);
    ASSERT_TRUE(ErrorMonitoring::isStarted());

    // A second start, even with another bundle, changes nothing.
    auto otherTransport = std::make_shared<RecordingEnvelopeTransport>();
    ErrorReporterOptions otherOptions = options;
    otherOptions.transport = otherTransport;
    ErrorMonitoring::start(
        DictionaryBundleInfo(QVariantMap { { "SENTRY_DSN", "http://OTHER@127.0.0.1:9/2" } }, "x"), otherOptions);

    ErrorMonitoring::capture(
        std::runtime_error("Upload failed"), QString("Inserting dictated text"), { { "target", "Editor" } });
    settle(*transport, 1);
    ASSERT_EQ(transport->sent.size(), 1);
    EXPECT_TRUE(otherTransport->sent.isEmpty());
    QJsonObject event = payloadOf(transport->sent[0].envelope);
    EXPECT_EQ(event["release"].toString(), "com.tessvale.mac@1.2+45");
    EXPECT_EQ(event["environment"].toString(), "release");
    const QJsonObject exception = event["exception"].toObject()["values"].toArray()[0].toObject();
    EXPECT_EQ(exception["type"].toString(), "std::runtime_error");
    EXPECT_EQ(exception["value"].toString(), "Upload failed");
    QJsonArray crumbs = event["breadcrumbs"].toObject()["values"].toArray();
    ASSERT_EQ(crumbs.size(), 1) << "the early breadcrumb was never recorded";
    EXPECT_EQ(crumbs[0].toObject()["category"].toString(), "error");
    EXPECT_EQ(crumbs[0].toObject()["message"].toString(), "Inserting dictated text");
    EXPECT_EQ(crumbs[0].toObject()["level"].toString(), "error");
    EXPECT_EQ(crumbs[0].toObject()["data"].toObject()["target"].toString(), "Editor");

    // An error with an empty description, no context and no extras is captured without a breadcrumb.
    ErrorMonitoring::capture(EmptyDescriptionError());
    settle(*transport, 2);
    ASSERT_EQ(transport->sent.size(), 2);
    crumbs = payloadOf(transport->sent[1].envelope)["breadcrumbs"].toObject()["values"].toArray();
    EXPECT_EQ(crumbs.size(), 1);

    // The description stands in for a missing context.
    ErrorMonitoring::captureMessage("Hello", "diagnostics", {}, SentryLevel::info);
    ErrorMonitoring::capture(std::runtime_error("Described"));
    settle(*transport, 4);
    ASSERT_EQ(transport->sent.size(), 4);
    event = payloadOf(transport->sent[3].envelope);
    crumbs = event["breadcrumbs"].toObject()["values"].toArray();
    ASSERT_EQ(crumbs.size(), 3);
    EXPECT_EQ(crumbs[1].toObject()["category"].toString(), "diagnostics");
    EXPECT_EQ(crumbs[2].toObject()["message"].toString(), "Described");
}

namespace {

// Blocks this thread, as a hang does, until predicate holds or limit passes.
void blockUntil(const std::function<bool()>& predicate, std::chrono::milliseconds limit = std::chrono::seconds(60))
{
    QElapsedTimer blocked;
    blocked.start();
    while (!predicate() && blocked.elapsed() < limit.count())
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
}

} // namespace

TEST(HangWatchdog, ReportsABlockedThreadOncePerHang)
{
    constexpr std::chrono::milliseconds threshold(150);
    QObject context;
    std::atomic<int> hangs { 0 };
    HangWatchdog watchdog(&context, threshold, [&hangs, threshold](std::chrono::milliseconds waited) {
        EXPECT_GE(waited, threshold);
        ++hangs;
    });
    if (spinEventLoop(3 * threshold) >= threshold)
        GTEST_SKIP() << "the machine stalled the event loop: inconclusive";
    EXPECT_EQ(hangs.load(), 0) << "a running event loop is no hang";

    hangs = 0;
    blockUntil([&] { return hangs.load() > 0; });
    ASSERT_EQ(hangs.load(), 1) << "a thread blocked for a minute was never reported";
    // The same hang going on is not reported again (the watchdog looks every few tens of ms).
    blockUntil([&] { return hangs.load() > 1; }, 4 * threshold);
    EXPECT_EQ(hangs.load(), 1);

    // Once the thread has answered (the answer stays until the watchdog looks), a new hang is reported.
    spinEventLoop(threshold / 2);
    hangs = 0;
    blockUntil([&] { return hangs.load() > 0; });
    EXPECT_EQ(hangs.load(), 1) << "no new hang after the thread answered again";
    watchdog.stop();
}
