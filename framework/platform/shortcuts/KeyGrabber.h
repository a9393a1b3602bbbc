#pragma once

#include <functional>

#include <QString>

#include "settings/ShortcutModifiers.h"

namespace tessvale {

// Claims key combinations system-wide, so that no application receives them while they are held by
// us. A passive listener cannot withhold a key press after the fact; a grab made ahead of time can.
class KeyGrabber
{
public:
    // A grabbed combination was pressed (auto-repeats included); the virtual key code of its key.
    using PressHandler = std::function<void(quint16 keyCode)>;

    virtual ~KeyGrabber() = default;

    // Grabs the key with exactly these modifiers, whatever the lock keys (Caps Lock, Num Lock).
    // False with reason when the keyboard lacks the key or a modifier, or another client owns it.
    virtual bool grab(quint16 keyCode, ShortcutModifiers modifiers, QString* reason) = 0;
    virtual void ungrabAll() = 0;
    virtual void setPressHandler(PressHandler handler) = 0;
};

} // namespace tessvale
