#include "settings/KeyCodes.h"

namespace tessvale {

namespace {

// clang-format off
constexpr std::array<NamedKey, 53> table{{
    {MacKeyCode::space, "Space"}, {MacKeyCode::returnKey, "Return"}, {MacKeyCode::tab, "Tab"},
    {MacKeyCode::escape, "Escape"}, {MacKeyCode::deleteKey, "Delete"},
    {MacKeyCode::a, "A"}, {MacKeyCode::b, "B"}, {MacKeyCode::c, "C"}, {MacKeyCode::d, "D"}, {MacKeyCode::e, "E"},
    {MacKeyCode::f, "F"}, {MacKeyCode::g, "G"}, {MacKeyCode::h, "H"}, {MacKeyCode::i, "I"}, {MacKeyCode::j, "J"},
    {MacKeyCode::k, "K"}, {MacKeyCode::l, "L"}, {MacKeyCode::m, "M"}, {MacKeyCode::n, "N"}, {MacKeyCode::o, "O"},
    {MacKeyCode::p, "P"}, {MacKeyCode::q, "Q"}, {MacKeyCode::r, "R"}, {MacKeyCode::s, "S"}, {MacKeyCode::t, "T"},
    {MacKeyCode::u, "U"}, {MacKeyCode::v, "V"}, {MacKeyCode::w, "W"}, {MacKeyCode::x, "X"}, {MacKeyCode::y, "Y"},
    {MacKeyCode::z, "Z"},
    {MacKeyCode::digit0, "0"}, {MacKeyCode::digit1, "1"}, {MacKeyCode::digit2, "2"}, {MacKeyCode::digit3, "3"},
    {MacKeyCode::digit4, "4"}, {MacKeyCode::digit5, "5"}, {MacKeyCode::digit6, "6"}, {MacKeyCode::digit7, "7"},
    {MacKeyCode::digit8, "8"}, {MacKeyCode::digit9, "9"},
    {MacKeyCode::f1, "F1"}, {MacKeyCode::f2, "F2"}, {MacKeyCode::f3, "F3"}, {MacKeyCode::f4, "F4"},
    {MacKeyCode::f5, "F5"}, {MacKeyCode::f6, "F6"}, {MacKeyCode::f7, "F7"}, {MacKeyCode::f8, "F8"},
    {MacKeyCode::f9, "F9"}, {MacKeyCode::f10, "F10"}, {MacKeyCode::f11, "F11"}, {MacKeyCode::f12, "F12"},
}};
// clang-format on

} // namespace

const std::array<NamedKey, 53>& namedKeys()
{
    return table;
}

std::optional<QString> namedKeyName(quint16 keyCode)
{
    for (const NamedKey& key : table) {
        if (key.keyCode == keyCode)
            return QString::fromLatin1(key.name);
    }
    return std::nullopt;
}

std::optional<quint16> namedKeyCode(QStringView name)
{
    for (const NamedKey& key : table) {
        if (name == QLatin1StringView(key.name))
            return key.keyCode;
    }
    return std::nullopt;
}

} // namespace tessvale
