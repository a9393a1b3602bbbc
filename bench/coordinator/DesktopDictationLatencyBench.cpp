// The coordinator's latencies on the private desktop, over the real streaming connection to the fake
// service (run inside scripts/test-env):
//   CommitToTextInTarget: from the TranscriptCommitted frame reaching the coordinator to the text read
//     back from the Qt text target (paste driver), less the insertion's own fixed waits (activation
//     and focus settling, readiness polls) that ended before the paste; counters median_ms, p95_ms,
//     waits_ms (the median of what was subtracted) and with_waits_ms (the median before subtracting).
//   ReleaseToStopSession: from the XTest key release of push-to-talk to the StopSession frame
//     received by the fake service, less the 0.175 s capture grace; real shortcut engine and real
//     microphone capture; counters median_ms, p95_ms.
// And with the application's own services instead of the harness (the Secret Service keychain, the
// PulseAudio capture of the virtual microphone, focus capture of the text target, the cloud client
// over the fake service, the tray and the HUD following the coordinator; the account fetched once,
// as at launch), how long the microphone waits on the coordinator:
//   HoldToRecorderStarted: from startPushToTalk (the hold recognized) to the recorder's start having
//     returned; speech before that is lost.
//   ReleaseToRecorderStopped: from stopPushToTalk (the key released) to the recorder's stop having
//     returned, the 0.175 s capture grace included; above_grace_ms is the median without it.
//   Counters median_ms, p90_ms, max_ms.
//   HUDMappedBeforeMicrophone: from the HUD's window exposed (the X server has mapped it) to the
//     recorder's start, one hands-free start after another; hud_first counts the starts at which
//     the X server (asked from a connection of its own) reported the window viewable, of runs;
//     lead_min_ms is the smallest lead (negative: the microphone opened first).
//   scripts/test-env build/bin/DesktopDictationLatencyBench
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <vector>

#include <QApplication>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QThread>
#include <QUuid>
#include <QWindow>

#include "FakeCloudServer.h"
#include "LatencyFigures.h"
#include "TestCertificateAuthority.h"
#include "audio/AudioCaptureService.h"
#include "auth/KeychainStore.h"
#include "cloud/CloudAPIClient.h"
#include "coordinator/CoordinatorSeams.h"
#include "coordinator/CoordinatorServices.h"
#include "focus/FocusAppService.h"
#include "focus/FocusedAppDiagnosticsService.h"
#include "hud/DictationHUDWindowController.h"
#include "insertion/TextInsertionService.h"
#include "menu/TrayController.h"
#include "platform/PlatformServices.h"
#include "settings/AppSettings.h"
#include "settings/InMemoryUserDefaults.h"
#include "support/async/EventLoopWaits.h"
#include "support/async/TaskRunner.h"
#include "support/coordinator/CoordinatorHarness.h"
#include "support/coordinator/ShortcutWiring.h"
#include "support/focus/TextTargetProcess.h"
#include "system/PermissionService.h"

// X11 headers last: they define macros (Status, Bool, None) that clash with Qt's.
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>
// X.h names an event Expose; the one meant below is QEvent's.
#undef Expose

using namespace std::chrono_literals;
using namespace tessvale;
using bench::Clock;
using bench::milliseconds;
using bench::pollUntil;
using bench::reportPercentiles;

namespace {

QApplication& application()
{
    static int argc = 1;
    static char name[] = "DesktopDictationLatencyBench";
    static char* argv[] = { name, nullptr };
    static QApplication app(argc, argv);
    return app;
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

// The moment a window is first exposed after reset().
class ExposeStamp final : public QObject
{
public:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Expose && at == Clock::time_point() && static_cast<QWindow*>(watched)->isExposed())
            at = Clock::now();
        return false;
    }
    void reset() { at = {}; }

    Clock::time_point at;
};

QCoro::Task<> showHUD(DictationHUDWindowController* hud, CancelToken token)
{
    if (!hud)
        co_return;
    QCoro::Task<> showing = hud->shownForDictation(std::move(token));
    co_await std::move(showing);
}

// The application's coordinator over the desktop, signed in to the fake service with a key in a
// keychain of its own, its recorder stamped as it starts and stops, its HUD wired as the
// application wires it.
class LiveDesktop
{
public:
    LiveDesktop()
        : m_platform(makePlatformServices())
    {
        m_cloud.server->stream().setCommittedText(QStringLiteral("Benchmarked."));
        qputenv("TESSVALE_REST_ORIGIN", m_cloud.server->restOrigin().toString().toUtf8());
    }

    ~LiveDesktop()
    {
        if (m_display)
            XCloseDisplay(m_display);
        m_tray.reset();
        m_hud.reset();
        m_coordinator.reset();
        if (m_keychain)
            (void)runTask(m_keychain->deleteItem(DictationCoordinator::apiKeyAccount));
        qunsetenv("TESSVALE_REST_ORIGIN");
    }

    // Empty when ready, else what went wrong.
    QString start()
    {
        if (!m_cloud.listening || !m_target.start())
            return QStringLiteral("the fake service or the text target did not start");
        CloudAPIClient::Options clientOptions;
        clientOptions.sslConfiguration = m_cloud.authority->clientConfiguration();
        clientOptions.decoder = WireDecoder(QStringLiteral("localhost"));
        m_client = std::make_unique<CloudAPIClient>(&m_network, clientOptions);
        m_keychain = std::make_shared<KeychainStore>(
            QStringLiteral("com.tessvale.bench.") + QUuid::createUuid().toString(QUuid::WithoutBraces),
            m_platform.secrets);
        (void)runTask(m_keychain->save(m_cloud.server->acceptedApiKey(), DictationCoordinator::apiKeyAccount));
        m_permissions = std::make_shared<PermissionService>(PermissionService::systemOperations(
            m_platform.microphone, m_platform.settingsOpener, m_platform.accessibilityTrust));
        m_capture = std::make_unique<AudioCaptureService>(m_platform.audio);
        m_diagnostics = std::make_shared<FocusedAppDiagnosticsService>(m_platform.windows, m_platform.accessibility);
        m_insertion = std::make_unique<TextInsertionService>(m_diagnostics, TextInsertionHooks {},
            TextInsertionPlatform { m_platform.clipboard, m_platform.injector, nullptr, m_platform.sessionInput });
        CoordinatorServices services = CoordinatorServices::live(m_keychain, *m_client, m_permissions, *m_capture,
            m_platform.audio, *m_insertion, m_diagnostics, m_platform.clipboard, m_platform.urlOpener);
        CloudWebSocketSession::Options streamOptions;
        streamOptions.sslConfiguration = m_cloud.authority->clientConfiguration();
        services.webSocketFactory = cloudWebSocketTransportFactory(streamOptions);
        const RecorderClient recorder = services.recorder;
        services.recorder.start
            = [this, recorder](const std::optional<QString>& device, RecorderClient::ChunkHandler chunks,
                  RecorderClient::LevelHandler levels, RecorderClient::CaptureEndedHandler ended) {
                  recorder.start(device, std::move(chunks), std::move(levels), std::move(ended));
                  recorderStartedAt = Clock::now();
                  hudViewableAtStart = hudViewable();
              };
        services.recorder.stop = [this, recorder] {
            const bool running = recorder.isRunning();
            QList<QByteArray> leftover = recorder.stop();
            if (running)
                recorderStoppedAt = Clock::now();
            return leftover;
        };
        services.hudShown = [this](CancelToken token) { return showHUD(m_hud.get(), std::move(token)); };
        m_coordinator = std::make_unique<DictationCoordinator>(m_settings, std::move(services));
        m_coordinator->bootstrap();
        m_hud = std::make_unique<DictationHUDWindowController>(*m_coordinator);
        m_hud->updateVisibility(false);
        m_hud->window()->winId();
        m_hud->window()->windowHandle()->installEventFilter(&hudExposed);
        m_display = XOpenDisplay(nullptr);
        m_tray = std::make_unique<TrayController>(
            *m_coordinator, [] {}, [] {});
        m_tray->start();
        if (!waitUntil([&] { return m_coordinator->isAuthenticated(); }, 15s))
            return QStringLiteral("not signed in: ") + m_coordinator->lastError();
        const bool focused = waitUntil(
            [&] {
                const FocusedInsertionTargetRef field = FocusAppService::currentInsertionTarget(*m_diagnostics);
                return field && field->application().processIdentifier == m_target.processId()
                    && field->focusedElement();
            },
            10s);
        return focused ? QString() : QStringLiteral("the text target's field is not focused");
    }

    DictationCoordinator& coordinator() { return *m_coordinator; }

    // What the X server says of the HUD's window now, over a connection of our own.
    bool hudViewable() const
    {
        XWindowAttributes attributes;
        return m_display && m_hud
            && XGetWindowAttributes(m_display, static_cast<Window>(m_hud->window()->winId()), &attributes) != 0
            && attributes.map_state == IsViewable;
    }

    Clock::time_point recorderStartedAt;
    Clock::time_point recorderStoppedAt;
    bool hudViewableAtStart = false;
    ExposeStamp hudExposed;

private:
    Display* m_display = nullptr;
    FakeCloud m_cloud;
    PlatformServices m_platform;
    testing::TextTargetProcess m_target;
    QNetworkAccessManager m_network;
    std::unique_ptr<CloudAPIClient> m_client;
    std::shared_ptr<KeychainStore> m_keychain;
    std::shared_ptr<PermissionService> m_permissions;
    std::unique_ptr<AudioCaptureService> m_capture;
    std::shared_ptr<FocusedAppDiagnosticsService> m_diagnostics;
    std::unique_ptr<TextInsertionService> m_insertion;
    AppSettings m_settings { std::make_shared<InMemoryUserDefaults>() };
    std::unique_ptr<DictationCoordinator> m_coordinator;
    std::unique_ptr<DictationHUDWindowController> m_hud;
    std::unique_ptr<TrayController> m_tray;
};

// Starts the desktop for a benchmark, or skips it saying why.
bool startLiveDesktop(benchmark::State& state, LiveDesktop& desktop)
{
    if (qEnvironmentVariableIsEmpty("DISPLAY") || qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS")) {
        state.SkipWithError("needs the private desktop (scripts/test-env)");
        return false;
    }
    if (const QString failure = desktop.start(); !failure.isEmpty()) {
        state.SkipWithError(qPrintable(failure));
        return false;
    }
    return true;
}

// One push-to-talk dictation after another; start and stop are each timed to the recorder's own moment.
void measurePushToTalk(benchmark::State& state, bool timeTheStart)
{
    application();
    LiveDesktop desktop;
    if (!startLiveDesktop(state, desktop))
        return;
    DictationCoordinator& c = desktop.coordinator();
    std::vector<double> latencies;
    for (auto _ : state) {
        desktop.recorderStartedAt = {};
        desktop.recorderStoppedAt = {};
        const auto pressedAt = Clock::now();
        c.startPushToTalk();
        if (!pollUntil([&] { return desktop.recorderStartedAt != Clock::time_point(); }, 5000ms)) {
            state.SkipWithError(qPrintable(QStringLiteral("the recorder did not start: ") + c.lastError()));
            break;
        }
        if (!waitUntil([&] { return c.phase() == DictationPhase::recording; }, 5000ms)) {
            state.SkipWithError("the service did not confirm the session");
            break;
        }
        spinEventLoop(200ms);
        const auto releasedAt = Clock::now();
        c.stopPushToTalk();
        if (!pollUntil([&] { return desktop.recorderStoppedAt != Clock::time_point(); }, 5000ms)) {
            state.SkipWithError("the recorder did not stop");
            break;
        }
        const double ours = timeTheStart ? milliseconds(desktop.recorderStartedAt - pressedAt)
                                         : milliseconds(desktop.recorderStoppedAt - releasedAt);
        state.SetIterationTime(ours / 1000);
        latencies.push_back(ours);
        if (!waitUntil([&] { return c.phase() == DictationPhase::ready; }, 10000ms)) {
            state.SkipWithError(qPrintable(QStringLiteral("the dictation did not finish: ") + c.lastError()));
            break;
        }
        spinEventLoop(100ms);
    }
    reportPercentiles(state, latencies);
    if (!timeTheStart && !latencies.empty())
        state.counters["above_grace_ms"] = state.counters["median_ms"] - 175;
}

void HoldToRecorderStarted(benchmark::State& state)
{
    measurePushToTalk(state, true);
}

void ReleaseToRecorderStopped(benchmark::State& state)
{
    measurePushToTalk(state, false);
}

void HUDMappedBeforeMicrophone(benchmark::State& state)
{
    application();
    LiveDesktop desktop;
    if (!startLiveDesktop(state, desktop))
        return;
    DictationCoordinator& c = desktop.coordinator();
    std::vector<double> leads;
    int hudFirst = 0;
    for (auto _ : state) {
        desktop.recorderStartedAt = {};
        desktop.hudViewableAtStart = false;
        desktop.hudExposed.reset();
        c.toggleHandsFree();
        if (!pollUntil([&] { return desktop.recorderStartedAt != Clock::time_point(); }, 5000ms)) {
            state.SkipWithError(qPrintable(QStringLiteral("the recorder did not start: ") + c.lastError()));
            break;
        }
        if (!pollUntil([&] { return desktop.hudExposed.at != Clock::time_point(); }, 5000ms)) {
            state.SkipWithError("the HUD never came on screen");
            break;
        }
        const double lead = milliseconds(desktop.recorderStartedAt - desktop.hudExposed.at);
        state.SetIterationTime(std::max(lead, 0.0) / 1000);
        leads.push_back(lead);
        hudFirst += desktop.hudViewableAtStart ? 1 : 0;
        if (!waitUntil([&] { return c.phase() == DictationPhase::recording; }, 5000ms)) {
            state.SkipWithError("the service did not confirm the session");
            break;
        }
        c.toggleHandsFree();
        if (!waitUntil([&] { return c.phase() == DictationPhase::ready && !desktop.hudViewable(); }, 10000ms)) {
            state.SkipWithError(qPrintable(QStringLiteral("the dictation did not finish: ") + c.lastError()));
            break;
        }
        spinEventLoop(100ms);
    }
    reportPercentiles(state, leads);
    if (!leads.empty()) {
        state.counters["hud_first"] = hudFirst;
        state.counters["runs"] = static_cast<double>(leads.size());
        state.counters["lead_min_ms"] = *std::min_element(leads.begin(), leads.end());
    }
}

} // namespace

BENCHMARK(CommitToTextInTarget)->Iterations(20)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(ReleaseToStopSession)->Iterations(20)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(HoldToRecorderStarted)->Iterations(20)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(ReleaseToRecorderStopped)->Iterations(20)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(HUDMappedBeforeMicrophone)->Iterations(20)->UseManualTime()->Unit(benchmark::kMillisecond);
