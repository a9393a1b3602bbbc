#include "support/shortcuts/FakeKeySource.h"

#include <algorithm>

namespace tessvale {

bool FakeKeySource::start(EventHandler eventHandler, InterruptionHandler interruptionHandler, QString* reason)
{
    ++startCount;
    if (startFailure) {
        if (reason)
            *reason = *startFailure;
        return false;
    }
    m_eventHandler = std::move(eventHandler);
    m_interruptionHandler = std::move(interruptionHandler);
    running = true;
    return true;
}

void FakeKeySource::stop()
{
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

void FakeKeySource::press(quint16 keyCode, double timestamp, bool synthetic)
{
    m_serverHeld.insert(nativeCode(keyCode));
    deliver(RawKeyEvent::Kind::press, keyCode, timestamp, synthetic);
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
    const EventHandler handler = m_eventHandler; // the handler may stop this source
    handler(event);
}

bool FakeKeyGrabber::grab(quint16 keyCode, ShortcutModifiers modifiers, QString* reason)
{
    const Grab wanted { keyCode, modifiers };
    if (std::find(refused.begin(), refused.end(), wanted) != refused.end()) {
        if (reason)
            *reason = QStringLiteral("Another application already uses this key combination.");
        return false;
    }
    grabs.push_back(wanted);
    return true;
}

void FakeKeyGrabber::pressGrabbed(quint16 keyCode)
{
    const bool grabbed
        = std::any_of(grabs.begin(), grabs.end(), [&](const Grab& grab) { return grab.keyCode == keyCode; });
    if (grabbed && m_pressHandler)
        m_pressHandler(keyCode);
}

} // namespace tessvale
