#pragma once

#include "platform/linux/BackendOnly.h"

#include <memory>
#include <set>
#include <vector>

#include <QObject>

#include "platform/shortcuts/KeyGrabber.h"

class QSocketNotifier;

namespace tessvale {

class X11Connection;
class X11KeyMap;

// Passive XGrabKey grabs on the root window, on a connection of its own that is read on the main
// thread (the grabbed presses arrive there as core key events).
class X11KeyGrabber final : public QObject, public KeyGrabber
{
    Q_OBJECT

public:
    explicit X11KeyGrabber(QObject* parent = nullptr);
    ~X11KeyGrabber() override;

    PlatformResult grab(quint16 keyCode, ShortcutModifiers modifiers) override;
    void ungrabAll() override;
    void setPressHandler(PressHandler handler) override { m_pressHandler = std::move(handler); }

private:
    struct Grab
    {
        unsigned nativeKeyCode;
        unsigned mask;
        quint16 keyCode;
        ShortcutModifiers modifiers;
    };

    bool ensureConnection(QString* reason);
    void readEvents();
    void handlePress(unsigned nativeKeyCode, unsigned state);

    std::unique_ptr<X11Connection> m_connection;
    std::unique_ptr<X11KeyMap> m_keyMap;
    QSocketNotifier* m_notifier = nullptr;
    std::vector<Grab> m_grabs;
    // Grabbed keys down now, as this connection saw them: a second press before the release is an
    // auto-repeat (detectable auto-repeat sends no release in between).
    std::set<unsigned> m_pressedKeys;
    PressHandler m_pressHandler;
};

} // namespace tessvale
