#include "support/settings/VocabularyPrinters.h"

#include <QDebug>

namespace tessvale {

namespace {

template <typename T> std::string describe(const T& value)
{
    QString text;
    QDebug(&text).nospace() << value;
    return text.toStdString();
}

} // namespace

void PrintTo(const ShortcutBinding& binding, std::ostream* out)
{
    *out << describe(binding);
}

void PrintTo(ShortcutModifiers modifiers, std::ostream* out)
{
    *out << describe(modifiers);
}

void PrintTo(ShortcutGesture gesture, std::ostream* out)
{
    *out << describe(gesture);
}

void PrintTo(DictationShortcutRole role, std::ostream* out)
{
    *out << describe(role);
}

void PrintTo(DictationShortcutAction action, std::ostream* out)
{
    *out << describe(action);
}

} // namespace tessvale
