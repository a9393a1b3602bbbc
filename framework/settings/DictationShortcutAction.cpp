#include "settings/DictationShortcutAction.h"

namespace tessvale {

QDebug operator<<(QDebug debug, DictationShortcutAction action)
{
    QDebugStateSaver saver(debug);
    switch (action) {
    case DictationShortcutAction::startPushToTalk:
        debug.noquote() << "startPushToTalk";
        break;
    case DictationShortcutAction::stopPushToTalk:
        debug.noquote() << "stopPushToTalk";
        break;
    case DictationShortcutAction::toggleHandsFree:
        debug.noquote() << "toggleHandsFree";
        break;
    }
    return debug;
}

} // namespace tessvale
