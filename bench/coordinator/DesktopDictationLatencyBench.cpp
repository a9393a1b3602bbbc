// The coordinator's latencies on the private desktop, over the real streaming connection to the fake
// service (run inside scripts/test-env):
//   CommitToTextInTarget: from the TranscriptCommitted frame reaching the coordinator to the text read
//     back from the Qt text target (paste driver), less the insertion's own fixed waits (activation
//     and focus settling, readiness polls) that ended before the paste; counters median_ms, p95_ms,
//     waits_ms (the median of what was subtracted) and with_waits_ms (the median before subtracting).
//   ReleaseToStopSession: from the XTest key release of push-to-talk to the StopSession frame
//     received by the fake service, less the 0.175 s capture grace; real shortcut engine and real
//     microphone capture; counters median_ms, p95_ms.
//   build/bin/DesktopDictationLatencyBench
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <vector>

#include <QApplication>
#include <QJsonDocument>
#include <QJsonObject>
#include <QThread>

#include "FakeCloudServer.h"
#include "TestCertificateAuthority.h"
#include "audio/AudioCaptureService.h"
#include "coordinator/CoordinatorSeams.h"
#include "focus/FocusAppService.h"
#include "focus/FocusedAppDiagnosticsService.h"
#include "insertion/TextInsertionService.h"
#include "platform/PlatformServices.h"
#include "support/async/EventLoopWaits.h"
#include "support/coordinator/CoordinatorHarness.h"
#include "support/coordinator/ShortcutWiring.h"
#include "support/focus/TextTargetProcess.h"

// X11 headers last: they define macros (Status, Bool, None) that clash with Qt's.
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

using namespace std::chrono_literals;
using namespace tessvale;

namespace {

using Clock = std::chrono::steady_clock;

QApplication& application()
{
    static int argc = 1;
    static char name[] = "DesktopDictationLatencyBench";
    static char* argv[] = { name, nullptr };
    static QApplication app(argc, argv);
    return app;
}

double milliseconds(Clock::duration duration)
{
    return std::chrono::duration<double, std::milli>(duration).count();
}

// Runs the event loop without the 10 ms tick of waitUntil, so a moment is seen within a millisecond.
bool pollUntil(const std::function<bool()>& predicate, std::chrono::milliseconds timeout)
{
    const auto deadline = Clock::now() + timeout;
    while (!predicate()) {
        if (Clock::now() > deadline)
            return false;
        QCoreApplication::processEvents();
        QThread::usleep(200);
    }
    return true;
}

void reportPercentiles(benchmark::State& state, std::vector<double> values)
{
    if (values.empty())
        return;
    std::sort(values.begin(), values.end());
    state.counters["median_ms"] = values[values.size() / 2];
    state.counters["p95_ms"] = values[std::min(values.size() - 1, (values.size() * 95 + 99) / 100 - 1)];
    state.counters["max_ms"] = values.back();
}

// The real clock, remembering each wait so the insertion's fixed waits can be told from our own time.
class RecordingSleeper final : public Sleeper
{
public:
    struct Wait
    {
        Clock::time_point began;
        Clock::time_point ended;
    };

    QCoro::Task<> sleep(Duration duration, CancelToken token = {}) override
    {
        const auto began = Clock::now();
        QCoro::Task<> waiting = Sleeper::system().sleep(duration, token);
        co_await std::move(waiting);
        waits.push_back({ began, Clock::now() });
    }
    MonotonicTime now() const override { return Sleeper::system().now(); }

    // The time spent in waits that lay wholly between from and to.
    Clock::duration waitedBetween(Clock::time_point from, Clock::time_point to) const
    {
        Clock::duration total {};
        for (const Wait& wait : waits) {
            if (wait.began >= from && wait.ended <= to)
                total += wait.ended - wait.began;
        }
        return total;
    }

    std::vector<Wait> waits;
};

// The fake service over TLS with one test CA per process.
struct FakeCloud
{
    FakeCloud()
        : authority(TestCertificateAuthority::create())
    {
        qputenv("TESSVALE_SERVICE_DOMAIN", "localhost");
        server = std::make_unique<FakeCloudServer>(*authority);
        listening = server->listen();
        server->stream().setCloseAfterCompletion(true);
    }

    bool received(const QString& caseName) const
    {
        if (server->stream().connectionCount() == 0)
            return false;
        for (const QString& text : server->stream().connection().textFrames) {
            if (QJsonDocument::fromJson(text.toUtf8()).object().value(QStringLiteral("Case")).toString() == caseName)
                return true;
        }
        return false;
    }

    std::unique_ptr<TestCertificateAuthority> authority;
    std::unique_ptr<FakeCloudServer> server;
    bool listening = false;
};

// A harness coordinator on the real clock that streams to the fake service.
void useFakeCloud(CoordinatorHarness& h, FakeCloud& cloud)
{
    h.prepareDictation();
    h.services().sleeper = &Sleeper::system();
    CloudWebSocketSession::Options options;
    options.sslConfiguration = cloud.authority->clientConfiguration();
    h.services().webSocketFactory = cloudWebSocketTransportFactory(options);
    h.configAnswer.value->webSocketURL = cloud.server->stream().url();
}

void sendKey(Display* display, KeySym keysym, bool press)
{
    XTestFakeKeyEvent(display, XKeysymToKeycode(display, keysym), press ? True : False, CurrentTime);
    XSync(display, False);
}

void CommitToTextInTarget(benchmark::State& state)
{
    application();
    if (qEnvironmentVariableIsEmpty("DISPLAY")) {
        state.SkipWithError("needs the private desktop (scripts/test-env)");
        return;
    }
    FakeCloud cloud;
    testing::TextTargetProcess target;
    if (!cloud.listening || !target.start()) {
        state.SkipWithError("the fake service or the text target did not start");
        return;
    }
    const PlatformServices platform = makePlatformServices();
    auto diagnostics = std::make_shared<FocusedAppDiagnosticsService>(platform.windows, platform.accessibility);
    RecordingSleeper insertionClock;
    Clock::time_point pastedAt;
    TextInsertionService* service = nullptr;
    TextInsertionHooks hooks;
    hooks.enabledDrivers = QList<TextInsertionDriver> { TextInsertionDriver::pasteboard };
    hooks.pasteCommandEmitter = [&] {
        pastedAt = Clock::now();
        service->emitCommandV();
    };
    TextInsertionService insertion(diagnostics, hooks,
        TextInsertionPlatform { platform.clipboard, platform.injector, &insertionClock, platform.sessionInput });
    service = &insertion;

    CoordinatorHarness h;
    useFakeCloud(h, cloud);
    h.services().focusTargetProvider = [diagnostics] { return FocusAppService::currentInsertionTarget(*diagnostics); };
    h.services().insertTranscript = [&insertion](QString text, bool appendTrailingSpace, bool restoreClipboard,
                                        bool preferDirectTyping, FocusedInsertionTargetRef focused, CancelToken token) {
        return insertion.insert(std::move(text), appendTrailingSpace, restoreClipboard, preferDirectTyping,
            std::move(focused), std::move(token));
    };
    // The moment each TranscriptCommitted reaches the coordinator.
    Clock::time_point committedAt;
    const WebSocketTransportFactory real = h.services().webSocketFactory;
    h.services().webSocketFactory = [real, &committedAt](const QUrl& url, const QString& apiKey) {
        WebSocketTransport transport = real(url, apiKey);
        const auto connect = transport.connect;
        transport.connect = [connect, &committedAt](WebSocketTransport::MessageHandler onMessage,
                                WebSocketTransport::TerminationHandler onEnd) {
            WebSocketTransport::MessageHandler stamped = [onMessage, &committedAt](const ServerStreamMessage& message) {
                if (message.messageCase() == ServerStreamMessage::Case::transcriptCommitted)
                    committedAt = Clock::now();
                onMessage(message);
            };
            return connect(std::move(stamped), std::move(onEnd));
        };
        return transport;
    };
    DictationCoordinator& c = h.coordinator();
    waitUntil(
        [&] {
            const FocusedInsertionTargetRef field = FocusAppService::currentInsertionTarget(*diagnostics);
            return field && field->application().processIdentifier == target.processId() && field->focusedElement();
        },
        10000ms);

    QString expected;
    std::vector<double> latencies;
    std::vector<double> waited;
    std::vector<double> totals;
    int run = 0;
    for (auto _ : state) {
        const QString text = QStringLiteral("Committed run %1. ").arg(++run);
        cloud.server->stream().setCommittedText(text);
        expected += text;
        c.toggleHandsFree();
        if (!waitUntil([&] { return c.phase() == DictationPhase::recording; }, 5000ms)) {
            state.SkipWithError("the dictation did not start");
            break;
        }
        h.fakeRecorder.chunk(QByteArray(3200, 'a'));
        spinEventLoop(20ms);
        committedAt = {};
        insertionClock.waits.clear();
        c.toggleHandsFree();
        if (!pollUntil([&] { return target.text() == expected; }, 10000ms)) {
            state.SkipWithError(qPrintable(QStringLiteral("the target holds: ") + target.text()));
            break;
        }
        const auto readBackAt = Clock::now();
        const auto waits = insertionClock.waitedBetween(committedAt, pastedAt);
        const double ours = milliseconds(readBackAt - committedAt - waits);
        state.SetIterationTime(ours / 1000);
        latencies.push_back(ours);
        waited.push_back(milliseconds(waits));
        totals.push_back(milliseconds(readBackAt - committedAt));
        if (!waitUntil([&] { return c.phase() == DictationPhase::ready; }, 10000ms)) {
            state.SkipWithError("the dictation did not finish");
            break;
        }
    }
    reportPercentiles(state, latencies);
    if (!waited.empty()) {
        std::sort(waited.begin(), waited.end());
        std::sort(totals.begin(), totals.end());
        state.counters["waits_ms"] = waited[waited.size() / 2];
        state.counters["with_waits_ms"] = totals[totals.size() / 2];
    }
}

void ReleaseToStopSession(benchmark::State& state)
{
    application();
    Display* display = qEnvironmentVariableIsEmpty("DISPLAY") ? nullptr : XOpenDisplay(nullptr);
    if (!display) {
        state.SkipWithError("needs the private desktop (scripts/test-env)");
        return;
    }
    FakeCloud cloud;
    const PlatformServices platform = makePlatformServices();
    AudioCaptureService capture(platform.audio);
    CoordinatorHarness h;
    useFakeCloud(h, cloud);
    h.services().recorder = liveRecorderClient(capture);
    // The moment the service receives each StopSession.
    Clock::time_point stopReceivedAt;
    QObject::connect(&cloud.server->stream(), &FakeCloudStreamService::frameReceived, [&] {
        if (stopReceivedAt == Clock::time_point() && cloud.received(QStringLiteral("StopSession")))
            stopReceivedAt = Clock::now();
    });
    DictationCoordinator& c = h.coordinator();
    auto engine = testing::makeShortcutEngine(c, platform);
    engine->start();
    spinEventLoop(50ms);

    const double grace = milliseconds(std::chrono::duration_cast<Clock::duration>(
        std::chrono::duration<double>(h.services().timing.stopCaptureGracePeriod)));
    std::vector<double> latencies;
    for (auto _ : state) {
        sendKey(display, XK_Control_L, true);
        sendKey(display, XK_Alt_L, true);
        if (!waitUntil([&] { return c.phase() == DictationPhase::recording; }, 5000ms)) {
            state.SkipWithError("push-to-talk did not start recording");
            break;
        }
        spinEventLoop(300ms);
        stopReceivedAt = {};
        const auto releasedAt = Clock::now();
        sendKey(display, XK_Alt_L, false);
        const bool stopped = pollUntil([&] { return stopReceivedAt != Clock::time_point(); }, 5000ms);
        sendKey(display, XK_Control_L, false);
        if (!stopped) {
            state.SkipWithError("no StopSession reached the service");
            break;
        }
        const double ours = milliseconds(stopReceivedAt - releasedAt) - grace;
        state.SetIterationTime(std::max(ours, 0.0) / 1000);
        latencies.push_back(ours);
        if (!waitUntil([&] { return c.phase() == DictationPhase::ready; }, 10000ms)) {
            state.SkipWithError("the dictation did not finish");
            break;
        }
        spinEventLoop(100ms);
    }
    reportPercentiles(state, latencies);
    engine.reset();
    XCloseDisplay(display);
}

} // namespace

BENCHMARK(CommitToTextInTarget)->Iterations(20)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(ReleaseToStopSession)->Iterations(20)->UseManualTime()->Unit(benchmark::kMillisecond);
