#include "support/shortcuts/FakeKeySource.h"

#include <algorithm>

#include "settings/ModifierKeyCodes.h"

namespace tessvale {

PlatformResult FakeKeySource::start(EventHandler eventHandler, InterruptionHandler interruptionHandler)
{
    ++startCount;
    if (startFailure)
        return PlatformResult::failed(*startFailure);
    m_eventHandler = std::move(eventHandler);
    m_interruptionHandler = std::move(interruptionHandler);
    running = true;
    return PlatformResult::ok();
}

void FakeKeySource::stop()
{
    m_lagging.clear();
    m_eventHandler = nullptr;
    m_interruptionHandler = nullptr;
    running = false;
}

std::optional<std::vector<quint32>> FakeKeySource::heldKeys()
{
    ++heldKeysQueries;
    if (heldKeysStale)
        return std::nullopt;
    return std::vector<quint32>(m_serverHeld.begin(), m_serverHeld.end());
}

void FakeKeySource::deliverPendingEvents()
{
    auto lagging = std::exchange(m_lagging, {});
    for (const RawKeyEvent& event : lagging) {
        if (const EventHandler handler = m_eventHandler)
            handler(event);
    }
}

void FakeKeySource::press(quint16 keyCode, double timestamp, bool synthetic)
{
    const bool isRepeat = !m_serverHeld.insert(nativeCode(keyCode)).second;
    deliver(RawKeyEvent::Kind::press, keyCode, timestamp, synthetic);
    if (m_grabber && !keyboardGrabbedElsewhere && !modifierForKeyCode(keyCode))
        m_grabber->pressGrabbed(keyCode, serverModifiers(), isRepeat);
}

ShortcutModifiers FakeKeySource::serverModifiers() const
{
    ShortcutModifiers modifiers;
    for (quint32 native : m_serverHeld) {
        if (const auto modifier = modifierForKeyCode(static_cast<quint16>(native - nativeCode(0))))
            modifiers |= *modifier;
    }
    return modifiers;
}

void FakeKeySource::release(quint16 keyCode, double timestamp, bool synthetic)
{
    m_serverHeld.erase(nativeCode(keyCode));
    deliver(RawKeyEvent::Kind::release, keyCode, timestamp, synthetic);
}

void FakeKeySource::loseRelease(quint16 keyCode)
{
    m_serverHeld.erase(nativeCode(keyCode));
}

void FakeKeySource::interrupt()
{
    if (const InterruptionHandler handler = m_interruptionHandler)
        handler();
}

void FakeKeySource::deliver(RawKeyEvent::Kind kind, quint16 keyCode, double timestamp, bool synthetic)
{
    if (!m_eventHandler)
        return;
    RawKeyEvent event;
    event.kind = kind;
    event.nativeKeyCode = nativeCode(keyCode);
    event.keyCode = keyCode;
    event.timestamp = timestamp;
    event.isSynthetic = synthetic;
    if (listenerLags) {
        m_lagging.push_back(event);
        return;
    }
    const EventHandler handler = m_eventHandler; // the handler may stop this source
    handler(event);
}

PlatformResult FakeKeyGrabber::grab(quint16 keyCode, ShortcutModifiers modifiers)
{
    const Grab wanted { keyCode, modifiers };
    if (std::find(refused.begin(), refused.end(), wanted) != refused.end())
        return PlatformResult::failed(QStringLiteral("Another application already uses this key combination."));
    grabs.push_back(wanted);
    return PlatformResult::ok();
}

void FakeKeyGrabber::pressGrabbed(quint16 keyCode, ShortcutModifiers modifiers, bool isRepeat)
{
    const Grab pressed { keyCode, modifiers };
    const bool grabbed = std::find(grabs.begin(), grabs.end(), pressed) != grabs.end();
    if (const PressHandler handler = m_pressHandler; grabbed && handler)
        handler({ keyCode, modifiers, isRepeat });
}

} // namespace tessvale
