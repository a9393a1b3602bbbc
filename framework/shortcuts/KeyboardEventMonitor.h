#pragma once

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <vector>

#include <QString>

#include "platform/PlatformServices.h"
#include "platform/SyntheticInputTracker.h"
#include "platform/shortcuts/KeyGrabber.h"
#include "platform/shortcuts/SessionInputProbe.h"
#include "settings/ShortcutModifiers.h"
#include "shortcuts/KeyboardEventMonitorError.h"
#include "shortcuts/KeyboardShortcutEvent.h"

namespace tessvale {

class KeySource;
class Sleeper;
struct RawKeyEvent;

// Sees every key press and every change of the held modifiers in the session and hands each to one
// handler, on the main thread. Modifier state is derived from the keys held, tracked as a set, so a
// release reported twice changes nothing. Key events our own injector synthesizes are ignored.
//
// The handler's answer swallows an event only where the platform allows: a listener cannot withhold
// an event after the fact, so the key combinations the handler will swallow are declared ahead with
// setSwallowedKeyCombos() and grabbed. Their presses are reported from the grab alone, which does not
// fire while another client holds the keyboard (a screen locker, an open menu); the listener sees
// keys even then.
class KeyboardEventMonitor
{
public:
    using Handler = std::function<bool(const KeyboardShortcutEvent&)>;

    struct KeyCombo
    {
        quint16 keyCode;
        ShortcutModifiers modifiers;
    };

    // syntheticInput tells our own pasted and typed keys from the user's.
    KeyboardEventMonitor(std::unique_ptr<KeySource> source, std::unique_ptr<KeyGrabber> grabber, Sleeper& clock,
        std::unique_ptr<SessionInputProbe> sessionInput, std::shared_ptr<SyntheticInputTracker> syntheticInput);
    // Makes monitors over the platform's keyboard; clock must outlive them.
    static std::function<std::unique_ptr<KeyboardEventMonitor>()> factory(
        const PlatformServices& platform, Sleeper& clock);
    ~KeyboardEventMonitor();
    KeyboardEventMonitor(const KeyboardEventMonitor&) = delete;
    KeyboardEventMonitor& operator=(const KeyboardEventMonitor&) = delete;

    // Replaces any running listener with one that reports to handler. Throws KeyboardEventMonitorError.
    void start(Handler handler);
    void stop();
    bool isRunning() const { return m_running; }
    // Hands the handler, before returning, every key event the platform sent before this call.
    void deliverPendingEvents();

    // Grabs exactly these combinations (releasing earlier ones); false with reason when one of them
    // cannot be grabbed (the others stay grabbed).
    bool setSwallowedKeyCombos(const std::vector<KeyCombo>& combos, QString* reason);
    // Whether every modifier of the set can be seen on this keyboard (the Fn key often cannot).
    bool canObserve(ShortcutModifiers modifiers) const;
    // What keeps keys from the session now: a lock, or (with probeGrab) another client's keyboard grab.
    std::optional<InputBlock> inputBlock(bool probeGrab);

private:
    void handleRawEvent(const RawKeyEvent& event);
    void handleGrabbedPress(const KeyGrabber::Press& press);
    void handleInterruption();
    void reconcileHeldKeys(double timestamp, quint32 keptNativeKeyCode);
    void reportModifiersIfChanged(double timestamp);
    ShortcutModifiers heldModifiers() const;
    bool isSwallowed(quint16 keyCode, ShortcutModifiers modifiers) const;

    std::unique_ptr<KeySource> m_source;
    std::unique_ptr<KeyGrabber> m_grabber;
    Sleeper& m_clock;
    std::unique_ptr<SessionInputProbe> m_sessionInput;
    std::shared_ptr<SyntheticInputTracker> m_syntheticInput;
    Handler m_handler;
    bool m_running = false;
    // Held keys by native code, with their virtual code when they have one.
    std::map<quint32, std::optional<quint16>> m_heldKeys;
    ShortcutModifiers m_reportedModifiers;
    // When the listener saw each grabbed combination's key go down: the grab reports the press later,
    // after events that followed it, and its keyDown carries this time instead of its arrival.
    std::map<quint16, double> m_grabbedPressTimes;
    std::vector<KeyCombo> m_swallowedCombos;
};

} // namespace tessvale
