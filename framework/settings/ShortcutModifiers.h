#pragma once

#include <cstddef>
#include <functional>
#include <initializer_list>

#include <QDebug>
#include <QString>
#include <QtGlobal>

namespace tessvale {

// A set of modifier keys over a signed 64-bit raw value. The raw value is kept exactly as given, so
// bits outside the five members survive a round trip through storage.
class ShortcutModifiers
{
public:
    constexpr ShortcutModifiers() = default;
    constexpr explicit ShortcutModifiers(qint64 rawValue)
        : m_rawValue(rawValue)
    {
    }

    // A list of members: ShortcutModifiers{ShortcutModifiers::control, ShortcutModifiers::option}.
    constexpr ShortcutModifiers(std::initializer_list<ShortcutModifiers> members)
    {
        for (ShortcutModifiers member : members)
            m_rawValue |= member.m_rawValue;
    }

    static const ShortcutModifiers control;
    static const ShortcutModifiers option;
    static const ShortcutModifiers shift;
    static const ShortcutModifiers command;
    static const ShortcutModifiers function;

    // Platform modifier flags of the event stream (the values stay the documented Mac ones).
    static constexpr quint64 controlEventFlag = 0x40000;
    static constexpr quint64 optionEventFlag = 0x80000;
    static constexpr quint64 shiftEventFlag = 0x20000;
    static constexpr quint64 commandEventFlag = 0x100000;
    static constexpr quint64 functionEventFlag = 0x800000;

    // Hot-key registration masks; Fn has none.
    static constexpr quint32 controlCarbonMask = 0x1000;
    static constexpr quint32 optionCarbonMask = 0x800;
    static constexpr quint32 shiftCarbonMask = 0x200;
    static constexpr quint32 commandCarbonMask = 0x100;

    // Each of the five flags sets its member; every other bit is ignored.
    static ShortcutModifiers fromEventFlags(quint64 eventFlags);

    constexpr qint64 rawValue() const { return m_rawValue; }
    constexpr bool isEmpty() const { return m_rawValue == 0; }

    quint64 eventFlags() const;
    quint32 carbonFlags() const;
    // True for the empty set and for Shift alone; any other bit (known or not) makes it false.
    bool isEmptyOrShiftOnly() const;
    // True when any bit other than Shift is set: what a global shortcut needs at least once.
    bool hasNonShiftModifier() const;
    // Member names in fixed order (Control, Alt, Shift, Super, Fn) joined by " + ".
    QString displayLabel() const;

    constexpr bool contains(ShortcutModifiers other) const
    {
        return (m_rawValue & other.m_rawValue) == other.m_rawValue;
    }
    constexpr bool isSubset(ShortcutModifiers of) const { return of.contains(*this); }
    constexpr bool isSuperset(ShortcutModifiers of) const { return contains(of); }
    constexpr bool isDisjoint(ShortcutModifiers with) const { return (m_rawValue & with.m_rawValue) == 0; }
    constexpr void insert(ShortcutModifiers other) { m_rawValue |= other.m_rawValue; }
    constexpr void remove(ShortcutModifiers other) { m_rawValue &= ~other.m_rawValue; }

    constexpr ShortcutModifiers operator|(ShortcutModifiers other) const
    {
        return ShortcutModifiers(m_rawValue | other.m_rawValue);
    }
    constexpr ShortcutModifiers operator&(ShortcutModifiers other) const
    {
        return ShortcutModifiers(m_rawValue & other.m_rawValue);
    }
    constexpr ShortcutModifiers operator^(ShortcutModifiers other) const
    {
        return ShortcutModifiers(m_rawValue ^ other.m_rawValue);
    }
    constexpr ShortcutModifiers operator-(ShortcutModifiers other) const
    {
        return ShortcutModifiers(m_rawValue & ~other.m_rawValue);
    }
    constexpr ShortcutModifiers& operator|=(ShortcutModifiers other)
    {
        m_rawValue |= other.m_rawValue;
        return *this;
    }
    constexpr ShortcutModifiers& operator&=(ShortcutModifiers other)
    {
        m_rawValue &= other.m_rawValue;
        return *this;
    }
    constexpr ShortcutModifiers& operator^=(ShortcutModifiers other)
    {
        m_rawValue ^= other.m_rawValue;
        return *this;
    }

    constexpr bool operator==(const ShortcutModifiers&) const = default;

private:
    qint64 m_rawValue = 0;
};

inline constexpr ShortcutModifiers ShortcutModifiers::control { 1 };
inline constexpr ShortcutModifiers ShortcutModifiers::option { 2 };
inline constexpr ShortcutModifiers ShortcutModifiers::shift { 4 };
inline constexpr ShortcutModifiers ShortcutModifiers::command { 8 };
inline constexpr ShortcutModifiers ShortcutModifiers::function { 16 };

size_t qHash(ShortcutModifiers modifiers, size_t seed = 0) noexcept;
QDebug operator<<(QDebug debug, ShortcutModifiers modifiers);

} // namespace tessvale

template <> struct std::hash<tessvale::ShortcutModifiers>
{
    size_t operator()(tessvale::ShortcutModifiers modifiers) const noexcept
    {
        return std::hash<qint64> {}(modifiers.rawValue());
    }
};
