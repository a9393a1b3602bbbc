#pragma once

#include <functional>
#include <optional>
#include <vector>

#include <QString>

#include "platform/PlatformResult.h"

namespace tessvale {

// One physical key going down or up, as the platform's global keyboard listener saw it.
struct RawKeyEvent
{
    enum class Kind { press, release };

    Kind kind = Kind::press;
    // The platform's own code of the key; identifies a held key even when it has no virtual code.
    quint32 nativeKeyCode = 0;
    // The virtual key code (VirtualKeyCode.h and the named keys), absent for keys without one.
    std::optional<quint16> keyCode;
    // Seconds on the monotonic clock of Sleeper::system(), taken from the platform's event time.
    double timestamp = 0;
    // Synthesized by the platform's input-injection device (which this process also uses).
    bool isSynthetic = false;
};

// A passive, system-wide listener for key presses and releases. Events arrive on the main thread.
class KeySource
{
public:
    using EventHandler = std::function<void(const RawKeyEvent&)>;
    // Keys may have gone down or up unseen (a keyboard was removed or the listener restarted).
    using InterruptionHandler = std::function<void()>;

    virtual ~KeySource() = default;

    // Starts listening; fails with the reason when the platform offers no global keyboard listener.
    virtual PlatformResult start(EventHandler eventHandler, InterruptionHandler interruptionHandler) = 0;
    virtual void stop() = 0;

    // The native codes of the keys held according to the platform right now, or nothing when that state
    // is not comparable with the events delivered so far (events are still waiting to be delivered).
    virtual std::optional<std::vector<quint32>> heldKeys() = 0;

    // Delivers, before returning, every event the platform sent before this call: another channel
    // (a key grab) may report a key whose preceding presses are still on their way here.
    virtual void deliverPendingEvents() = 0;

    // Whether the keyboard has a key the listener sees as the Fn modifier.
    virtual bool hasFunctionKey() const = 0;
};

} // namespace tessvale
