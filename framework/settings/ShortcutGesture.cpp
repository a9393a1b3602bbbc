#include "settings/ShortcutGesture.h"

namespace tessvale {

QString rawValue(ShortcutGesture gesture)
{
    switch (gesture) {
    case ShortcutGesture::holdModifiers:
        return QStringLiteral("holdModifiers");
    case ShortcutGesture::doubleTapModifiers:
        return QStringLiteral("doubleTapModifiers");
    case ShortcutGesture::keyComboPress:
        return QStringLiteral("keyComboPress");
    }
    return {};
}

std::optional<ShortcutGesture> shortcutGestureFromRawValue(QStringView rawValue)
{
    for (ShortcutGesture gesture :
        { ShortcutGesture::holdModifiers, ShortcutGesture::doubleTapModifiers, ShortcutGesture::keyComboPress }) {
        if (rawValue == tessvale::rawValue(gesture))
            return gesture;
    }
    return std::nullopt;
}

QDebug operator<<(QDebug debug, ShortcutGesture gesture)
{
    QDebugStateSaver saver(debug);
    debug.noquote() << rawValue(gesture);
    return debug;
}

} // namespace tessvale
