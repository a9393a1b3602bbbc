#include "shortcuts/KeyboardEventMonitor.h"

#include <algorithm>

#include "async/Sleeper.h"
#include "base/Logging.h"
#include "platform/SyntheticInputTracker.h"
#include "platform/shortcuts/KeySource.h"
#include "settings/ModifierKeyCodes.h"

namespace tessvale {

namespace {

double seconds(MonotonicTime time)
{
    return std::chrono::duration<double>(time).count();
}

} // namespace

KeyboardEventMonitor::KeyboardEventMonitor(std::unique_ptr<KeySource> source, std::unique_ptr<KeyGrabber> grabber,
    Sleeper& clock, std::unique_ptr<SessionInputProbe> sessionInput,
    std::shared_ptr<SyntheticInputTracker> syntheticInput)
    : m_source(std::move(source))
    , m_grabber(std::move(grabber))
    , m_clock(clock)
    , m_sessionInput(std::move(sessionInput))
    , m_syntheticInput(std::move(syntheticInput))
{
    m_grabber->setPressHandler([this](const KeyGrabber::Press& press) { handleGrabbedPress(press); });
}

std::function<std::unique_ptr<KeyboardEventMonitor>()> KeyboardEventMonitor::factory(
    const PlatformServices& platform, Sleeper& clock)
{
    return [makeSource = platform.makeKeySource, makeGrabber = platform.makeKeyGrabber,
               makeProbe = platform.makeSessionInputProbe, syntheticInput = platform.syntheticInput, &clock] {
        return std::make_unique<KeyboardEventMonitor>(makeSource(), makeGrabber(), clock, makeProbe(), syntheticInput);
    };
}

KeyboardEventMonitor::~KeyboardEventMonitor()
{
    stop();
}

void KeyboardEventMonitor::deliverPendingEvents()
{
    if (m_running)
        m_source->deliverPendingEvents();
}

void KeyboardEventMonitor::start(Handler handler)
{
    stop();
    m_handler = std::move(handler);
    const PlatformResult started = m_source->start(
        [this](const RawKeyEvent& event) { handleRawEvent(event); }, [this]() { handleInterruption(); });
    if (!started) {
        qCWarning(lcKeyboardEvents).noquote() << "keyboard listener unavailable:" << started.reason();
        throw KeyboardEventMonitorError(KeyboardEventMonitorError::Case::unavailable, started.reason());
    }
    m_running = true;
    QString grabReason;
    if (!m_swallowedCombos.empty() && !setSwallowedKeyCombos(m_swallowedCombos, &grabReason))
        qCWarning(lcKeyboardEvents).noquote() << "key combination not grabbed:" << grabReason;
}

void KeyboardEventMonitor::stop()
{
    if (m_running) {
        m_source->stop();
        m_grabber->ungrabAll();
    }
    m_running = false;
    m_handler = nullptr;
    m_heldKeys.clear();
    m_reportedModifiers = {};
}

bool KeyboardEventMonitor::setSwallowedKeyCombos(const std::vector<KeyCombo>& combos, QString* reason)
{
    m_swallowedCombos = combos;
    if (!m_running)
        return true;
    m_grabber->ungrabAll();
    bool allGrabbed = true;
    for (const KeyCombo& combo : combos) {
        const PlatformResult grabbed = m_grabber->grab(combo.keyCode, combo.modifiers);
        if (!grabbed) {
            if (allGrabbed && reason)
                *reason = grabbed.reason();
            allGrabbed = false;
        }
    }
    return allGrabbed;
}

bool KeyboardEventMonitor::canObserve(ShortcutModifiers modifiers) const
{
    return !modifiers.contains(ShortcutModifiers::function) || m_source->hasFunctionKey();
}

std::optional<InputBlock> KeyboardEventMonitor::inputBlock(bool probeGrab)
{
    return currentInputBlock(*m_sessionInput, probeGrab);
}

void KeyboardEventMonitor::handleRawEvent(const RawKeyEvent& event)
{
    if (!m_handler)
        return;
    if (event.isSynthetic && m_syntheticInput->isSynthesizing()) {
        qCDebug(lcKeyboardEvents) << "ignored key event synthesized by our injector, native code"
                                  << event.nativeKeyCode;
        return;
    }
    const bool isModifierKey = event.keyCode && modifierForKeyCode(*event.keyCode);
    const bool isCapsLock = event.keyCode == MacKeyCode::capsLock;

    // Keys released unseen go first, so that this event is reported with the modifiers held now. Its
    // own key stays: the platform may already have seen the release of a quick tap.
    reconcileHeldKeys(event.timestamp, event.nativeKeyCode);
    if (!m_handler)
        return;

    if (event.kind == RawKeyEvent::Kind::press) {
        const bool isRepeat = m_heldKeys.count(event.nativeKeyCode) > 0;
        m_heldKeys[event.nativeKeyCode] = event.keyCode;
        if (isModifierKey) {
            reportModifiersIfChanged(event.timestamp);
        } else if (event.keyCode && isSwallowed(*event.keyCode, m_reportedModifiers)) {
            qCDebug(lcKeyboardEvents) << "key press of a grabbed combination left to its grab";
            m_grabbedPressTimes[*event.keyCode] = event.timestamp;
        } else if (!isCapsLock) {
            const KeyboardShortcutEvent keyDown {
                KeyboardShortcutEvent::Kind::keyDown,
                m_reportedModifiers,
                event.keyCode,
                event.timestamp,
                isRepeat,
            };
            const Handler handler = m_handler; // the handler may stop this monitor
            if (handler(keyDown))
                qCDebug(lcKeyboardEvents) << "key press answered as swallowed but not grabbed:" << keyDown;
        }
    } else if (m_heldKeys.erase(event.nativeKeyCode) > 0 && isModifierKey) {
        reportModifiersIfChanged(event.timestamp);
    }
}

void KeyboardEventMonitor::handleGrabbedPress(const KeyGrabber::Press& press)
{
    if (!m_handler)
        return;
    // The grab reports on a channel of its own: the presses before it must be known first.
    m_source->deliverPendingEvents();
    if (!m_handler)
        return;
    // A core key event does not name its device. While our injector types, the key is the user's
    // only when the listener saw it pressed on a real keyboard (its own events are left out).
    const bool seenHeld = std::any_of(
        m_heldKeys.begin(), m_heldKeys.end(), [&](const auto& entry) { return entry.second == press.keyCode; });
    if (!seenHeld && m_syntheticInput->isSynthesizing()) {
        qCDebug(lcKeyboardEvents) << "ignored grabbed key press typed by our injector";
        return;
    }
    const auto seen = m_grabbedPressTimes.find(press.keyCode);
    const double pressedAt = seen != m_grabbedPressTimes.end() ? seen->second : seconds(m_clock.now());
    if (seen != m_grabbedPressTimes.end())
        m_grabbedPressTimes.erase(seen);
    const KeyboardShortcutEvent keyDown {
        KeyboardShortcutEvent::Kind::keyDown,
        press.modifiers,
        press.keyCode,
        pressedAt,
        press.isRepeat,
    };
    const Handler handler = m_handler; // the handler may stop this monitor
    handler(keyDown);
}

void KeyboardEventMonitor::handleInterruption()
{
    if (!m_handler)
        return;
    qCInfo(lcKeyboardEvents) << "keyboard listener interrupted";
    const KeyboardShortcutEvent interrupted {
        KeyboardShortcutEvent::Kind::monitorInterrupted,
        {},
        std::nullopt,
        seconds(m_clock.now()),
        false,
    };
    const Handler handler = m_handler; // the handler may stop this monitor
    handler(interrupted);
    if (!m_running)
        return;
    // Held keys are unknown now: keep only those the platform still reports, without announcing them.
    const auto held = m_source->heldKeys();
    std::erase_if(m_heldKeys,
        [&](const auto& entry) { return !held || std::find(held->begin(), held->end(), entry.first) == held->end(); });
    m_reportedModifiers = heldModifiers();
}

// A release may go unseen (a keyboard removed mid-press, a listener restart): whenever the platform's
// own state can be compared with the events delivered so far, keys it no longer holds are released.
// Only while a modifier is held can a lost release keep a gesture open, so ordinary typing costs no
// round trip to the platform.
void KeyboardEventMonitor::reconcileHeldKeys(double timestamp, quint32 keptNativeKeyCode)
{
    if (m_heldKeys.empty() || !m_handler || m_reportedModifiers.isEmpty())
        return;
    const auto held = m_source->heldKeys();
    if (!held)
        return;
    const auto released = std::erase_if(m_heldKeys, [&](const auto& entry) {
        return entry.first != keptNativeKeyCode && std::find(held->begin(), held->end(), entry.first) == held->end();
    });
    if (released > 0) {
        qCInfo(lcKeyboardEvents) << released << "held keys were released unseen";
        reportModifiersIfChanged(timestamp);
    }
}

void KeyboardEventMonitor::reportModifiersIfChanged(double timestamp)
{
    const ShortcutModifiers modifiers = heldModifiers();
    if (modifiers == m_reportedModifiers || !m_handler)
        return;
    m_reportedModifiers = modifiers;
    const Handler handler = m_handler; // the handler may stop this monitor
    handler({ KeyboardShortcutEvent::Kind::flagsChanged, modifiers, std::nullopt, timestamp, false });
}

ShortcutModifiers KeyboardEventMonitor::heldModifiers() const
{
    ShortcutModifiers modifiers;
    for (const auto& [nativeCode, keyCode] : m_heldKeys) {
        if (keyCode) {
            if (const auto modifier = modifierForKeyCode(*keyCode))
                modifiers |= *modifier;
        }
    }
    return modifiers;
}

bool KeyboardEventMonitor::isSwallowed(quint16 keyCode, ShortcutModifiers modifiers) const
{
    return std::any_of(m_swallowedCombos.begin(), m_swallowedCombos.end(),
        [&](const KeyCombo& combo) { return combo.keyCode == keyCode && combo.modifiers == modifiers; });
}

} // namespace tessvale
