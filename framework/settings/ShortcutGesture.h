#pragma once

#include <optional>

#include <QDebug>
#include <QString>
#include <QStringView>

namespace tessvale {

// How a shortcut binding is performed. The raw values are the stored form.
enum class ShortcutGesture {
    holdModifiers,
    doubleTapModifiers,
    keyComboPress,
};

QString rawValue(ShortcutGesture gesture);
// Exactly the three raw values (case-sensitive); anything else is no gesture.
std::optional<ShortcutGesture> shortcutGestureFromRawValue(QStringView rawValue);
QDebug operator<<(QDebug debug, ShortcutGesture gesture);

} // namespace tessvale
