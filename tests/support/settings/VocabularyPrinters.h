#pragma once

#include <ostream>

#include <QByteArray>
#include <QString>

#include "settings/DictationShortcutAction.h"
#include "settings/DictationShortcutRole.h"
#include "settings/ShortcutBinding.h"
#include "settings/ShortcutGesture.h"
#include "settings/ShortcutModifiers.h"

// Readable GoogleTest failure messages for the shortcut vocabulary.
namespace tessvale {
void PrintTo(const ShortcutBinding& binding, std::ostream* out);
void PrintTo(ShortcutModifiers modifiers, std::ostream* out);
void PrintTo(ShortcutGesture gesture, std::ostream* out);
void PrintTo(DictationShortcutRole role, std::ostream* out);
void PrintTo(DictationShortcutAction action, std::ostream* out);
} // namespace tessvale
