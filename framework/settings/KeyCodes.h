#pragma once

#include <array>
#include <optional>

#include <QString>
#include <QStringView>
#include <QtGlobal>

namespace tessvale {

// Virtual key codes as stored in shortcut bindings: the Mac codes are the data on every platform; the
// platform key map translates its own key codes to these and back.
namespace MacKeyCode {
inline constexpr quint16 a = 0;
inline constexpr quint16 s = 1;
inline constexpr quint16 d = 2;
inline constexpr quint16 f = 3;
inline constexpr quint16 h = 4;
inline constexpr quint16 g = 5;
inline constexpr quint16 z = 6;
inline constexpr quint16 x = 7;
inline constexpr quint16 c = 8;
inline constexpr quint16 v = 9;
inline constexpr quint16 b = 11;
inline constexpr quint16 q = 12;
inline constexpr quint16 w = 13;
inline constexpr quint16 e = 14;
inline constexpr quint16 r = 15;
inline constexpr quint16 y = 16;
inline constexpr quint16 t = 17;
inline constexpr quint16 digit1 = 18;
inline constexpr quint16 digit2 = 19;
inline constexpr quint16 digit3 = 20;
inline constexpr quint16 digit4 = 21;
inline constexpr quint16 digit6 = 22;
inline constexpr quint16 digit5 = 23;
inline constexpr quint16 digit9 = 25;
inline constexpr quint16 digit7 = 26;
inline constexpr quint16 digit8 = 28;
inline constexpr quint16 digit0 = 29;
inline constexpr quint16 o = 31;
inline constexpr quint16 u = 32;
inline constexpr quint16 i = 34;
inline constexpr quint16 p = 35;
inline constexpr quint16 returnKey = 36;
inline constexpr quint16 l = 37;
inline constexpr quint16 j = 38;
inline constexpr quint16 k = 40;
inline constexpr quint16 n = 45;
inline constexpr quint16 m = 46;
inline constexpr quint16 tab = 48;
inline constexpr quint16 space = 49;
inline constexpr quint16 deleteKey = 51;
inline constexpr quint16 escape = 53;
inline constexpr quint16 f5 = 96;
inline constexpr quint16 f6 = 97;
inline constexpr quint16 f7 = 98;
inline constexpr quint16 f3 = 99;
inline constexpr quint16 f8 = 100;
inline constexpr quint16 f9 = 101;
inline constexpr quint16 f11 = 103;
inline constexpr quint16 f10 = 109;
inline constexpr quint16 f12 = 111;
inline constexpr quint16 f4 = 118;
inline constexpr quint16 f2 = 120;
inline constexpr quint16 f1 = 122;
} // namespace MacKeyCode

// A key that global combo shortcuts may use, with the name shown to the user.
struct NamedKey
{
    quint16 keyCode;
    const char* name;
};

// The 53 named keys; no other key code has a name.
const std::array<NamedKey, 53>& namedKeys();
std::optional<QString> namedKeyName(quint16 keyCode);
// The reverse look-up (exact, case-sensitive name).
std::optional<quint16> namedKeyCode(QStringView name);

} // namespace tessvale
