#pragma once

#include <optional>

#include <QtGlobal>

#include "settings/ShortcutModifiers.h"

namespace tessvale {

class KeyCodeTranslator;

// A key pressed with modifiers held, as the global keyboard listener saw it.
struct ModifiedKeyPress
{
    ShortcutModifiers modifiers;
    quint16 keyCode = 0;
};

// What a shortcut recorder needs of the global shortcut engine: that it stops reacting while a
// shortcut is being recorded (recording the current shortcut must not start a dictation), and the
// key map it listens with, so that a recorded binding holds the codes it will later listen for.
class ShortcutEngineSuspension
{
public:
    virtual ~ShortcutEngineSuspension() = default;

    // Suspensions nest; the engine listens again after the last one is resumed, once the keys held
    // then have been released.
    virtual void suspend() = 0;
    virtual void resume() = 0;
    // Null when the platform has none; the recorder then reads Qt's key values.
    virtual KeyCodeTranslator* keyCodes() const = 0;
    // The last key pressed with modifiers held while suspended, wherever its press went (the desktop
    // may have taken it before our window saw it); none without the platform's listener.
    virtual std::optional<ModifiedKeyPress> lastModifiedKeyPress() = 0;
};

} // namespace tessvale
