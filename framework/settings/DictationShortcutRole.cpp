#include "settings/DictationShortcutRole.h"

namespace tessvale {

QString rawValue(DictationShortcutRole role)
{
    switch (role) {
    case DictationShortcutRole::pushToTalk:
        return QStringLiteral("pushToTalk");
    case DictationShortcutRole::handsFreeToggle:
        return QStringLiteral("handsFreeToggle");
    }
    return {};
}

std::optional<DictationShortcutRole> dictationShortcutRoleFromRawValue(QStringView rawValue)
{
    for (DictationShortcutRole role : { DictationShortcutRole::pushToTalk, DictationShortcutRole::handsFreeToggle }) {
        if (rawValue == tessvale::rawValue(role))
            return role;
    }
    return std::nullopt;
}

QDebug operator<<(QDebug debug, DictationShortcutRole role)
{
    QDebugStateSaver saver(debug);
    debug.noquote() << rawValue(role);
    return debug;
}

} // namespace tessvale
