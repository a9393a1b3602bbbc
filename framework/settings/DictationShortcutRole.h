#pragma once

#include <optional>

#include <QDebug>
#include <QString>
#include <QStringView>

namespace tessvale {

// The two global dictation shortcuts.
enum class DictationShortcutRole {
    pushToTalk,
    handsFreeToggle,
};

QString rawValue(DictationShortcutRole role);
// Exactly "pushToTalk" or "handsFreeToggle"; any other text makes no role.
std::optional<DictationShortcutRole> dictationShortcutRoleFromRawValue(QStringView rawValue);
QDebug operator<<(QDebug debug, DictationShortcutRole role);

} // namespace tessvale
