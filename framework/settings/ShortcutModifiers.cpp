#include "settings/ShortcutModifiers.h"

#include <array>

#include <QHashFunctions>
#include <QStringList>

namespace tessvale {

namespace {

struct MemberInfo
{
    ShortcutModifiers member;
    const char* displayName;
    quint64 eventFlag;
    quint32 carbonMask;
};

// Display order is this order. Labels follow the PC keyboard; the stored members keep their names.
constexpr std::array<MemberInfo, 5> members { {
    { ShortcutModifiers::control, "Control", ShortcutModifiers::controlEventFlag,
        ShortcutModifiers::controlCarbonMask },
    { ShortcutModifiers::option, "Alt", ShortcutModifiers::optionEventFlag, ShortcutModifiers::optionCarbonMask },
    { ShortcutModifiers::shift, "Shift", ShortcutModifiers::shiftEventFlag, ShortcutModifiers::shiftCarbonMask },
    { ShortcutModifiers::command, "Super", ShortcutModifiers::commandEventFlag, ShortcutModifiers::commandCarbonMask },
    { ShortcutModifiers::function, "Fn", ShortcutModifiers::functionEventFlag, 0 },
} };

} // namespace

ShortcutModifiers ShortcutModifiers::fromEventFlags(quint64 eventFlags)
{
    ShortcutModifiers result;
    for (const MemberInfo& info : members) {
        if ((eventFlags & info.eventFlag) != 0)
            result.insert(info.member);
    }
    return result;
}

quint64 ShortcutModifiers::eventFlags() const
{
    quint64 flags = 0;
    for (const MemberInfo& info : members) {
        if (contains(info.member))
            flags |= info.eventFlag;
    }
    return flags;
}

quint32 ShortcutModifiers::carbonFlags() const
{
    quint32 flags = 0;
    for (const MemberInfo& info : members) {
        if (contains(info.member))
            flags |= info.carbonMask;
    }
    return flags;
}

bool ShortcutModifiers::isEmptyOrShiftOnly() const
{
    return m_rawValue == 0 || m_rawValue == shift.rawValue();
}

bool ShortcutModifiers::hasNonShiftModifier() const
{
    return (m_rawValue & ~shift.rawValue()) != 0;
}

QString ShortcutModifiers::displayLabel() const
{
    QStringList names;
    for (const MemberInfo& info : members) {
        if (contains(info.member))
            names.append(QString::fromLatin1(info.displayName));
    }
    return names.join(QStringLiteral(" + "));
}

size_t qHash(ShortcutModifiers modifiers, size_t seed) noexcept
{
    return ::qHash(modifiers.rawValue(), seed);
}

QDebug operator<<(QDebug debug, ShortcutModifiers modifiers)
{
    QDebugStateSaver saver(debug);
    debug.nospace() << "ShortcutModifiers(" << modifiers.rawValue() << ", \"" << modifiers.displayLabel() << "\")";
    return debug;
}

} // namespace tessvale
