#pragma once

#include <optional>

#include <QDebug>

#include "settings/ShortcutModifiers.h"

namespace tessvale {

// One keyboard event as the shortcut engine sees it.
struct KeyboardShortcutEvent
{
    enum class Kind {
        flagsChanged,
        keyDown,
        monitorInterrupted,
    };

    Kind kind = Kind::flagsChanged;
    // The modifiers held after the event.
    ShortcutModifiers modifiers;
    // The virtual key code, for keyDown only.
    std::optional<quint16> keyCode;
    // Seconds on the monotonic clock that the gesture recognizer compares with.
    double timestamp = 0;
    bool isRepeat = false;

    bool operator==(const KeyboardShortcutEvent&) const = default;
};

QDebug operator<<(QDebug debug, const KeyboardShortcutEvent& event);

} // namespace tessvale
