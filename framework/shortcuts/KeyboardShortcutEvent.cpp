#include "shortcuts/KeyboardShortcutEvent.h"

namespace tessvale {

QDebug operator<<(QDebug debug, const KeyboardShortcutEvent& event)
{
    QDebugStateSaver saver(debug);
    static const char* const kinds[] = { "flagsChanged", "keyDown", "monitorInterrupted" };
    debug.nospace() << kinds[static_cast<int>(event.kind)] << "(" << event.modifiers.displayLabel();
    if (event.keyCode)
        debug << ", key " << *event.keyCode;
    debug << ", t=" << event.timestamp << (event.isRepeat ? ", repeat" : "") << ")";
    return debug;
}

} // namespace tessvale
