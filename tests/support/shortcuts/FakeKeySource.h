#pragma once

#include <optional>
#include <set>
#include <vector>

#include "platform/shortcuts/KeyGrabber.h"
#include "platform/shortcuts/KeySource.h"

namespace tessvale {

class FakeKeyGrabber;

// A keyboard in memory: the test presses and releases virtual key codes; the "server" state that
// heldKeys() reports follows them unless a release is lost on purpose. With a grabber attached, a
// press of a grabbed combination also reaches it, after the listener, as the server would send it,
// unless another client grabs the keyboard.
class FakeKeySource final : public KeySource
{
public:
    PlatformResult start(EventHandler eventHandler, InterruptionHandler interruptionHandler) override;
    void stop() override;
    std::optional<std::vector<quint32>> heldKeys() override;
    void deliverPendingEvents() override;
    bool hasFunctionKey() const override { return functionKeyPresent; }

    void attachGrabber(FakeKeyGrabber* grabber) { m_grabber = grabber; }
    void press(quint16 keyCode, double timestamp, bool synthetic = false);
    void release(quint16 keyCode, double timestamp, bool synthetic = false);
    // The key goes up without an event reaching the listener.
    void loseRelease(quint16 keyCode);
    void interrupt();

    static quint32 nativeCode(quint16 keyCode) { return keyCode + 1000u; }

    bool functionKeyPresent = false;
    // Another client's active grab: the keys reach the listener but no grab of ours.
    bool keyboardGrabbedElsewhere = false;
    // Listener events wait until deliverPendingEvents(), as if their channel were slower.
    bool listenerLags = false;
    std::optional<QString> startFailure;
    bool heldKeysStale = false;
    int heldKeysQueries = 0;
    int startCount = 0;
    bool running = false;

private:
    void deliver(RawKeyEvent::Kind kind, quint16 keyCode, double timestamp, bool synthetic);
    ShortcutModifiers serverModifiers() const;

    EventHandler m_eventHandler;
    InterruptionHandler m_interruptionHandler;
    std::set<quint32> m_serverHeld;
    std::vector<RawKeyEvent> m_lagging;
    FakeKeyGrabber* m_grabber = nullptr;
};

// Records grabs; refuses those listed in refused.
class FakeKeyGrabber final : public KeyGrabber
{
public:
    struct Grab
    {
        quint16 keyCode;
        ShortcutModifiers modifiers;
        bool operator==(const Grab&) const = default;
    };

    PlatformResult grab(quint16 keyCode, ShortcutModifiers modifiers) override;
    void ungrabAll() override { grabs.clear(); }
    void setPressHandler(PressHandler handler) override { m_pressHandler = std::move(handler); }

    // A key is pressed with these modifiers held; reported when a grab matches.
    void pressGrabbed(quint16 keyCode, ShortcutModifiers modifiers = {}, bool isRepeat = false);

    std::vector<Grab> grabs;
    std::vector<Grab> refused;

private:
    PressHandler m_pressHandler;
};

} // namespace tessvale
