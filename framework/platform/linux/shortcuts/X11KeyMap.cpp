#include "platform/linux/shortcuts/X11KeyMap.h"

#include <utility>

#include "settings/ModifierKeyCodes.h"

// X11 headers last: they define macros (Status, Bool, None) that clash with Qt's.
#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/keysym.h>

namespace tessvale {

namespace {

// XF86XK_Fn: the keysym of the evdev KEY_FN code (0x10081000 + 0x1d0).
constexpr KeySym fnKeysym = 0x100811d0;

struct KeysymEntry
{
    KeySym keysym;
    quint16 keyCode;
};

// The first entry for a virtual code is the keysym it translates back to.
constexpr KeysymEntry keysymTable[] = {
    { XK_space, MacKeyCode::space },
    { XK_Return, MacKeyCode::returnKey },
    { XK_KP_Enter, MacKeyCode::returnKey },
    { XK_Tab, MacKeyCode::tab },
    { XK_ISO_Left_Tab, MacKeyCode::tab },
    { XK_Escape, MacKeyCode::escape },
    { XK_BackSpace, MacKeyCode::deleteKey },
    { XK_a, MacKeyCode::a },
    { XK_b, MacKeyCode::b },
    { XK_c, MacKeyCode::c },
    { XK_d, MacKeyCode::d },
    { XK_e, MacKeyCode::e },
    { XK_f, MacKeyCode::f },
    { XK_g, MacKeyCode::g },
    { XK_h, MacKeyCode::h },
    { XK_i, MacKeyCode::i },
    { XK_j, MacKeyCode::j },
    { XK_k, MacKeyCode::k },
    { XK_l, MacKeyCode::l },
    { XK_m, MacKeyCode::m },
    { XK_n, MacKeyCode::n },
    { XK_o, MacKeyCode::o },
    { XK_p, MacKeyCode::p },
    { XK_q, MacKeyCode::q },
    { XK_r, MacKeyCode::r },
    { XK_s, MacKeyCode::s },
    { XK_t, MacKeyCode::t },
    { XK_u, MacKeyCode::u },
    { XK_v, MacKeyCode::v },
    { XK_w, MacKeyCode::w },
    { XK_x, MacKeyCode::x },
    { XK_y, MacKeyCode::y },
    { XK_z, MacKeyCode::z },
    { XK_0, MacKeyCode::digit0 },
    { XK_1, MacKeyCode::digit1 },
    { XK_2, MacKeyCode::digit2 },
    { XK_3, MacKeyCode::digit3 },
    { XK_4, MacKeyCode::digit4 },
    { XK_5, MacKeyCode::digit5 },
    { XK_6, MacKeyCode::digit6 },
    { XK_7, MacKeyCode::digit7 },
    { XK_8, MacKeyCode::digit8 },
    { XK_9, MacKeyCode::digit9 },
    { XK_F1, MacKeyCode::f1 },
    { XK_F2, MacKeyCode::f2 },
    { XK_F3, MacKeyCode::f3 },
    { XK_F4, MacKeyCode::f4 },
    { XK_F5, MacKeyCode::f5 },
    { XK_F6, MacKeyCode::f6 },
    { XK_F7, MacKeyCode::f7 },
    { XK_F8, MacKeyCode::f8 },
    { XK_F9, MacKeyCode::f9 },
    { XK_F10, MacKeyCode::f10 },
    { XK_F11, MacKeyCode::f11 },
    { XK_F12, MacKeyCode::f12 },
    { XK_Control_L, MacKeyCode::control },
    { XK_Control_R, MacKeyCode::rightControl },
    { XK_Alt_L, MacKeyCode::option },
    { XK_Meta_L, MacKeyCode::option },
    { XK_Alt_R, MacKeyCode::rightOption },
    { XK_Meta_R, MacKeyCode::rightOption },
    { XK_Shift_L, MacKeyCode::shift },
    { XK_Shift_R, MacKeyCode::rightShift },
    { XK_Super_L, MacKeyCode::command },
    { XK_Super_R, MacKeyCode::rightCommand },
    { XK_Caps_Lock, MacKeyCode::capsLock },
    { fnKeysym, MacKeyCode::function },
};

// Modifier keys come in pairs; either side sets the same modifier.
quint16 leftSide(quint16 keyCode)
{
    switch (keyCode) {
    case MacKeyCode::rightCommand:
        return MacKeyCode::command;
    case MacKeyCode::rightShift:
        return MacKeyCode::shift;
    case MacKeyCode::rightOption:
        return MacKeyCode::option;
    case MacKeyCode::rightControl:
        return MacKeyCode::control;
    default:
        return keyCode;
    }
}

} // namespace

X11KeyMap::X11KeyMap(Display* display)
    : m_display(display)
{
    refresh();
}

void X11KeyMap::refresh()
{
    m_keyCodes.fill(std::nullopt);
    m_modifierMasks.fill(0);
    m_numLockMask = 0;

    int minKeyCode = 8;
    int maxKeyCode = 255;
    XDisplayKeycodes(m_display, &minKeyCode, &maxKeyCode);
    for (int code = minKeyCode; code <= maxKeyCode && code < 256; ++code) {
        const KeySym keysym = XkbKeycodeToKeysym(m_display, static_cast<KeyCode>(code), 0, 0);
        if (keysym != NoSymbol)
            m_keyCodes[code] = keyCodeForKeysym(keysym);
    }

    XModifierKeymap* modifiers = XGetModifierMapping(m_display);
    if (!modifiers)
        return;
    for (int modifier = 0; modifier < 8; ++modifier) {
        for (int i = 0; i < modifiers->max_keypermod; ++i) {
            const KeyCode code = modifiers->modifiermap[modifier * modifiers->max_keypermod + i];
            if (code == 0)
                continue;
            m_modifierMasks[code] |= 1u << modifier;
            if (XkbKeycodeToKeysym(m_display, code, 0, 0) == XK_Num_Lock)
                m_numLockMask |= 1u << modifier;
        }
    }
    XFreeModifiermap(modifiers);
}

std::optional<quint16> X11KeyMap::keyCode(unsigned nativeKeyCode) const
{
    if (nativeKeyCode >= m_keyCodes.size())
        return std::nullopt;
    return m_keyCodes[nativeKeyCode];
}

std::vector<unsigned> X11KeyMap::nativeKeyCodes(quint16 keyCode) const
{
    std::vector<unsigned> codes;
    for (unsigned code = 0; code < m_keyCodes.size(); ++code) {
        if (m_keyCodes[code] == keyCode)
            codes.push_back(code);
    }
    return codes;
}

unsigned X11KeyMap::modifierMask(quint16 modifierKeyCode) const
{
    const quint16 wanted = leftSide(modifierKeyCode);
    unsigned mask = 0;
    for (unsigned code = 0; code < m_keyCodes.size(); ++code) {
        if (m_keyCodes[code] && leftSide(*m_keyCodes[code]) == wanted)
            mask |= m_modifierMasks[code];
    }
    return mask;
}

unsigned X11KeyMap::capsLockMask() const
{
    return LockMask;
}

std::optional<quint16> X11KeyMap::keyCodeForKeysym(unsigned long keysym)
{
    KeySym lower = keysym;
    KeySym upper = keysym;
    XConvertCase(keysym, &lower, &upper);
    for (const auto& entry : keysymTable) {
        if (entry.keysym == lower)
            return entry.keyCode;
    }
    return std::nullopt;
}

unsigned long X11KeyMap::keysymForKeyCode(quint16 keyCode)
{
    for (const auto& entry : keysymTable) {
        if (entry.keyCode == keyCode)
            return entry.keysym;
    }
    return NoSymbol;
}

bool X11KeyMap::hasFunctionKey() const
{
    return !nativeKeyCodes(MacKeyCode::function).empty();
}

} // namespace tessvale
