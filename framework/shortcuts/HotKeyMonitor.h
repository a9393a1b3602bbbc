#pragma once

#include <functional>
#include <memory>

#include <QString>

#include "base/TessvaleError.h"
#include "settings/ShortcutBinding.h"

namespace tessvale {

class KeyGrabber;
class Sleeper;

// Why a hot key could not be registered: an OS status code and its description.
class HotKeyMonitorError : public TessvaleError
{
public:
    // The binding is not a key combination with a key.
    static constexpr int invalidParameter = -50;
    // The combination could not be claimed (no display, taken by another application, missing key).
    static constexpr int registrationFailed = -9878;

    // what() adds the code to the description.
    HotKeyMonitorError(int code, const QString& description);

    int code() const { return m_code; }

private:
    int m_code;
};

// One key combination registered as a global hot key, calling an action when pressed, at most once
// per minimumTriggerInterval. Needs no keyboard listener, cannot see modifier-only gestures and never
// swallows other keys.
class HotKeyMonitor
{
public:
    static constexpr double minimumTriggerInterval = 0.8;

    // The interval is measured on clock.
    HotKeyMonitor(std::unique_ptr<KeyGrabber> grabber, Sleeper& clock);
    ~HotKeyMonitor();
    HotKeyMonitor(const HotKeyMonitor&) = delete;
    HotKeyMonitor& operator=(const HotKeyMonitor&) = delete;

    // Replaces any registered combination. Throws HotKeyMonitorError.
    void registerBinding(const ShortcutBinding& binding, std::function<void()> action);
    // Releases the combination; the action is kept.
    void unregister();

private:
    void handlePress();

    std::unique_ptr<KeyGrabber> m_grabber;
    Sleeper& m_clock;
    bool m_registered = false;
    std::function<void()> m_action;
    double m_lastTriggerTime = 0;
};

} // namespace tessvale
