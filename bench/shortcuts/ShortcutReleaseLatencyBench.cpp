// How long after the key release the push-to-talk stop reaches the action handler: holds Control +
// Alt past the hold threshold with XTest, releases Alt, and times the stop (median, min and max in
// the counters). Run inside scripts/test-env.
#include <benchmark/benchmark.h>

#include <QCoreApplication>

#include <algorithm>
#include <chrono>
#include <vector>

#include "platform/PlatformServices.h"
#include "shortcuts/DictationShortcutEngine.h"
#include "shortcuts/KeyboardEventMonitor.h"
#include "support/async/EventLoopWaits.h"

// X11 headers last: they define macros (Status, Bool, None) that clash with Qt's.
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

using namespace tessvale;
using namespace std::chrono_literals;

namespace {

using Clock = std::chrono::steady_clock;

QCoreApplication& application()
{
    static int argc = 1;
    static char name[] = "ShortcutReleaseLatencyBench";
    static char* argv[] = { name, nullptr };
    static QCoreApplication app(argc, argv);
    return app;
}

void sendKey(Display* display, KeySym keysym, bool press)
{
    XTestFakeKeyEvent(display, XKeysymToKeycode(display, keysym), press ? True : False, CurrentTime);
    XSync(display, False);
}

void ReleaseToStop(benchmark::State& state)
{
    application();
    Display* display = qEnvironmentVariableIsEmpty("DISPLAY") ? nullptr : XOpenDisplay(nullptr);
    if (!display) {
        state.SkipWithError("needs the private desktop (scripts/test-env)");
        return;
    }
    const PlatformServices platform = makePlatformServices();
    std::vector<DictationShortcutAction> actions;
    Clock::time_point lastActionAt;
    DictationShortcutEngine engine(
        ShortcutBinding::defaultPushToTalk, ShortcutBinding::defaultHandsFreeToggle,
        [&](DictationShortcutAction action) {
            actions.push_back(action);
            lastActionAt = Clock::now();
        },
        [](const std::optional<QString>&) {}, [] { return false; },
        KeyboardEventMonitor::factory(platform, Sleeper::system()), Sleeper::system());
    engine.start();
    spinEventLoop(50ms);

    std::vector<double> latencies;
    for (auto _ : state) {
        actions.clear();
        sendKey(display, XK_Control_L, true);
        sendKey(display, XK_Alt_L, true);
        if (!waitUntil([&] { return actions.size() == 1; }, 2000ms)) {
            state.SkipWithError("push-to-talk never started");
            break;
        }
        spinEventLoop(20ms);
        const auto released = Clock::now();
        sendKey(display, XK_Alt_L, false);
        const bool stopped = waitUntil([&] { return actions.size() == 2; }, 2000ms);
        const double seconds = std::chrono::duration<double>(lastActionAt - released).count();
        sendKey(display, XK_Control_L, false);
        if (!stopped || actions.back() != DictationShortcutAction::stopPushToTalk) {
            state.SkipWithError("the release did not stop push-to-talk");
            break;
        }
        state.SetIterationTime(seconds);
        latencies.push_back(seconds * 1000);
        spinEventLoop(30ms);
    }
    if (!latencies.empty()) {
        std::sort(latencies.begin(), latencies.end());
        state.counters["median_ms"] = latencies[latencies.size() / 2];
        state.counters["min_ms"] = latencies.front();
        state.counters["max_ms"] = latencies.back();
    }
    engine.stop();
    XCloseDisplay(display);
}

} // namespace

BENCHMARK(ReleaseToStop)->Iterations(15)->UseManualTime()->Unit(benchmark::kMillisecond);
