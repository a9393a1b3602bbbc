// Sign Out during a push-to-talk dictation while the keyring does not answer (its deletion never
// returns), with the real capture of the private desktop's virtual microphone and the harness's
// scripted stream and REST answers (run inside scripts/test-env):
//   SignOutToMicrophoneClosed: from signOut() to the recorder's stop having returned (the PulseAudio
//     stream gone), as the manual time per iteration; counters median_ms, p90_ms, max_ms, and
//     shown_signed_out_ms, the median time until the coordinator shows the user signed out.
//   scripts/test-env build/bin/SignOutLatencyBench
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <vector>

#include <QCoreApplication>
#include <QThread>

#include "LatencyFigures.h"
#include "audio/AudioCaptureService.h"
#include "cloud/ServerStreamMessage.h"
#include "coordinator/CoordinatorSeams.h"
#include "platform/PlatformServices.h"
#include "support/async/EventLoopWaits.h"
#include "support/auth/InMemorySecretStore.h"
#include "support/coordinator/CoordinatorHarness.h"

using namespace std::chrono_literals;
using namespace tessvale;
using Access = DictationCoordinatorTestAccess;
using bench::Clock;
using bench::milliseconds;
using bench::pollUntil;

namespace {

QCoreApplication& application()
{
    static int argc = 1;
    static char name[] = "SignOutLatencyBench";
    static char* argv[] = { name, nullptr };
    static QCoreApplication app(argc, argv);
    return app;
}

void SignOutToMicrophoneClosed(benchmark::State& state)
{
    application();
    if (qEnvironmentVariableIsEmpty("DISPLAY") || qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS")) {
        state.SkipWithError("needs the private desktop (scripts/test-env)");
        return;
    }
    const PlatformServices platform = makePlatformServices();
    AudioCaptureService capture(platform.audio);
    std::vector<double> closed;
    std::vector<double> shown;
    for (auto _ : state) {
        CoordinatorHarness h;
        h.storeAPIKey(QStringLiteral("tv_test_storedkey"));
        h.useScriptedStreams();
        Clock::time_point stoppedAt;
        const RecorderClient live = liveRecorderClient(capture);
        h.services().recorder = live;
        h.services().recorder.stop = [live, &stoppedAt] {
            const bool running = live.isRunning();
            QList<QByteArray> leftover = live.stop();
            if (running)
                stoppedAt = Clock::now();
            return leftover;
        };
        DictationCoordinator& c = h.coordinator();
        Access::restoreSavedSession(c);
        h.settle();
        c.startPushToTalk();
        if (!pollUntil([&] { return capture.isRunning() && !h.streams.isEmpty(); }, 5000ms)) {
            state.SkipWithError(qPrintable(QStringLiteral("the recorder did not start: ") + c.lastError()));
            break;
        }
        h.stream().deliver(ServerStreamMessage::sessionStarted(h.stream().sessionID()));
        if (!pollUntil([&] { return c.phase() == DictationPhase::recording; }, 5000ms)) {
            state.SkipWithError("the dictation did not start recording");
            break;
        }
        spinEventLoop(100ms);

        // From here on the keyring does not answer.
        h.secrets().hold();
        const auto chosenAt = Clock::now();
        c.signOut();
        if (!pollUntil([&] { return stoppedAt != Clock::time_point(); }, 5000ms)) {
            state.SkipWithError("the microphone stayed open");
            break;
        }
        const double ours = milliseconds(stoppedAt - chosenAt);
        if (!pollUntil([&] { return c.phase() == DictationPhase::signedOut && !c.isAuthenticated(); }, 5000ms)) {
            state.SkipWithError("the user was still shown signed in");
            break;
        }
        shown.push_back(milliseconds(Clock::now() - chosenAt));
        if (h.secrets().waitingCalls() == 0) {
            state.SkipWithError("the keyring's deletion did not wait");
            break;
        }
        state.SetIterationTime(ours / 1000);
        closed.push_back(ours);
    }
    if (closed.empty())
        return;
    bench::reportPercentiles(state, closed);
    state.counters["shown_signed_out_ms"] = bench::median(shown);
}

} // namespace

BENCHMARK(SignOutToMicrophoneClosed)->Iterations(20)->UseManualTime()->Unit(benchmark::kMillisecond);
