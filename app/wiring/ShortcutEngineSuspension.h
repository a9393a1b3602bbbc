#pragma once

namespace tessvale {

class KeyCodeTranslator;

// What a shortcut recorder needs of the global shortcut engine: that it stops reacting while a
// shortcut is being recorded (recording the current shortcut must not start a dictation), and the
// key map it listens with, so that a recorded binding holds the codes it will later listen for.
class ShortcutEngineSuspension
{
public:
    virtual ~ShortcutEngineSuspension() = default;

    // Suspensions nest; the engine listens again after the last one is resumed.
    virtual void suspend() = 0;
    virtual void resume() = 0;
    // Null when the platform has none; the recorder then reads Qt's key values.
    virtual KeyCodeTranslator* keyCodes() const = 0;
};

} // namespace tessvale
