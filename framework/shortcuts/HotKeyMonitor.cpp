#include "shortcuts/HotKeyMonitor.h"

#include <chrono>

#include "async/Sleeper.h"
#include "base/Logging.h"
#include "platform/shortcuts/KeyGrabber.h"

namespace tessvale {

HotKeyMonitorError::HotKeyMonitorError(int code, const QString& description)
    : TessvaleError(description, QStringLiteral("%1 (%2)").arg(description).arg(code))
    , m_code(code)
{
}

HotKeyMonitor::HotKeyMonitor(std::unique_ptr<KeyGrabber> grabber, Sleeper& clock)
    : m_grabber(std::move(grabber))
    , m_clock(clock)
{
    m_grabber->setPressHandler([this](const KeyGrabber::Press&) { handlePress(); });
}

HotKeyMonitor::~HotKeyMonitor()
{
    unregister();
}

void HotKeyMonitor::registerBinding(const ShortcutBinding& binding, std::function<void()> action)
{
    if (binding.gesture != ShortcutGesture::keyComboPress || !binding.keyCode)
        throw HotKeyMonitorError(
            HotKeyMonitorError::invalidParameter, QStringLiteral("A hot key needs a key combination with a key."));
    unregister();
    m_action = std::move(action);
    const PlatformResult grabbed = m_grabber->grab(*binding.keyCode, binding.modifiers);
    if (!grabbed) {
        qCWarning(lcHotKey).noquote() << "hot key" << binding.displayLabel() << "not registered:" << grabbed.reason();
        throw HotKeyMonitorError(HotKeyMonitorError::registrationFailed, grabbed.reason());
    }
    m_registered = true;
    qCInfo(lcHotKey).noquote() << "hot key registered" << binding.displayLabel();
}

void HotKeyMonitor::unregister()
{
    if (!m_registered)
        return;
    m_grabber->ungrabAll();
    m_registered = false;
}

void HotKeyMonitor::handlePress()
{
    const double now = std::chrono::duration<double>(m_clock.now()).count();
    // Within a nanosecond of the interval counts as reaching it (decimal seconds in binary doubles).
    if (now - m_lastTriggerTime < minimumTriggerInterval - 1e-9)
        return;
    m_lastTriggerTime = now;
    if (m_action)
        m_action();
}

} // namespace tessvale
