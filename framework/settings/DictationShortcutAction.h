#pragma once

#include <QDebug>

namespace tessvale {

// What the shortcut engine hands to its action handler.
enum class DictationShortcutAction {
    startPushToTalk,
    stopPushToTalk,
    toggleHandsFree,
};

QDebug operator<<(QDebug debug, DictationShortcutAction action);

} // namespace tessvale
