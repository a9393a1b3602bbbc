#pragma once

#include "platform/linux/BackendOnly.h"

#include <memory>

#include <QObject>

#include "platform/shortcuts/KeySource.h"

class QSocketNotifier;

namespace tessvale {

class X11Connection;
class X11KeyMap;

// Global key presses and releases from XInput2 raw events on the root window, read on the main
// thread from a connection of its own. Raw events reach every listener, also while another client
// holds a keyboard grab: they tell which keys are held, never that a shortcut may act.
class X11KeySource final : public QObject, public KeySource
{
    Q_OBJECT

public:
    explicit X11KeySource(QObject* parent = nullptr);
    ~X11KeySource() override;

    PlatformResult start(EventHandler eventHandler, InterruptionHandler interruptionHandler) override;
    void stop() override;
    std::optional<std::vector<quint32>> heldKeys() override;
    void deliverPendingEvents() override;
    bool hasFunctionKey() const override;

private:
    void readEvents();
    void handleEvent(void* xevent);
    void findSyntheticDevice();
    void synchronizeServerClock();
    double monotonicSeconds(unsigned long serverTime);

    std::unique_ptr<X11Connection> m_connection;
    std::unique_ptr<X11KeyMap> m_keyMap;
    QSocketNotifier* m_notifier = nullptr;
    EventHandler m_eventHandler;
    InterruptionHandler m_interruptionHandler;
    int m_xiOpcode = 0;
    int m_syntheticDeviceId = -1;
    bool m_reading = false;

    // Server time (milliseconds, wrapping at 32 bits) extended to 64 bits, and the smallest seen
    // difference between the local monotonic clock and it: events read late keep their own times.
    bool m_haveServerTime = false;
    quint32 m_lastServerTime = 0;
    qint64 m_extendedServerTime = 0;
    bool m_haveClockOffset = false;
    qint64 m_clockOffsetNs = 0;
};

} // namespace tessvale
