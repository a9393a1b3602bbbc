#pragma once

#include <functional>

#include <QString>

#include "platform/PlatformResult.h"
#include "settings/ShortcutModifiers.h"

namespace tessvale {

// Claims key combinations system-wide, so that no application receives them while they are held by
// us. A passive listener cannot withhold a key press after the fact; a grab made ahead of time can.
class KeyGrabber
{
public:
    // A grabbed combination was pressed: the grab's key and modifiers, and whether the press is an
    // auto-repeat of the key held down. Only the grabbing client sees it, so none arrives while
    // another client holds an active keyboard grab.
    struct Press
    {
        quint16 keyCode = 0;
        ShortcutModifiers modifiers;
        bool isRepeat = false;
    };
    using PressHandler = std::function<void(const Press&)>;

    virtual ~KeyGrabber() = default;

    // Grabs the key with exactly these modifiers, whatever the lock keys (Caps Lock, Num Lock).
    // Fails with the reason when the keyboard lacks the key or a modifier, or another client owns it
    // (nobody grabs again by itself, so that too is a failure, not a retry).
    virtual PlatformResult grab(quint16 keyCode, ShortcutModifiers modifiers) = 0;
    virtual void ungrabAll() = 0;
    virtual void setPressHandler(PressHandler handler) = 0;
};

} // namespace tessvale
