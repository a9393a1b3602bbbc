#include "platform/linux/insertion/X11SpareKeycodes.h"

#include <X11/Xlib.h>

namespace tessvale {

X11SpareKeycodes::X11SpareKeycodes(Display* display)
    : m_display(display)
{
}

X11SpareKeycodes::~X11SpareKeycodes()
{
    resetAll();
}

void X11SpareKeycodes::refresh()
{
    m_spare.clear();
    m_planned.clear();
    int min = 0;
    int max = 0;
    XDisplayKeycodes(m_display, &min, &max);
    KeySym* map = XGetKeyboardMapping(m_display, static_cast<KeyCode>(min), max - min + 1, &m_perCode);
    if (!map)
        return;
    std::vector<bool> isModifier(256, false);
    if (XModifierKeymap* modifiers = XGetModifierMapping(m_display)) {
        for (int i = 0; i < 8 * modifiers->max_keypermod; ++i)
            isModifier[modifiers->modifiermap[i]] = true;
        XFreeModifiermap(modifiers);
    }
    for (int code = min; code <= max; ++code) {
        const KeySym* levels = map + (code - min) * m_perCode;
        const auto ours = m_ours.find(code);
        const KeySym expected = ours != m_ours.end() ? ours->second : NoSymbol;
        // The server may give back our keysym on fewer levels than we wrote it to.
        bool unchanged = true;
        bool seen = expected == NoSymbol;
        for (int level = 0; level < m_perCode; ++level) {
            unchanged = unchanged && (levels[level] == expected || levels[level] == NoSymbol);
            seen = seen || levels[level] == expected;
        }
        unchanged = unchanged && seen;
        if (!unchanged && ours != m_ours.end()) {
            m_ours.erase(ours); // somebody else remapped it: no longer ours to reset
            continue;
        }
        if (unchanged && !isModifier[code])
            m_spare.push_back(code);
    }
    XFree(map);
}

std::optional<int> X11SpareKeycodes::codeFor(unsigned long keysym, std::set<int>& inUse)
{
    for (const auto& [code, mapped] : m_planned) {
        if (mapped == keysym) {
            inUse.insert(code);
            return code;
        }
    }
    for (const auto& [code, mapped] : m_ours) {
        if (mapped == keysym && !m_planned.count(code)) {
            inUse.insert(code);
            return code;
        }
    }
    // Empty codes first, so the meanings already given stay available to later text.
    std::optional<int> chosen;
    for (const int code : m_spare) {
        if (inUse.count(code) || m_planned.count(code))
            continue;
        if (!m_ours.count(code)) {
            chosen = code;
            break;
        }
        if (!chosen)
            chosen = code;
    }
    if (!chosen)
        return std::nullopt;
    m_planned[*chosen] = keysym;
    inUse.insert(*chosen);
    return chosen;
}

bool X11SpareKeycodes::apply()
{
    if (m_planned.empty())
        return false;
    write(m_planned);
    for (const auto& [code, keysym] : m_planned)
        m_ours[code] = keysym;
    m_planned.clear();
    return true;
}

void X11SpareKeycodes::resetAll()
{
    m_planned.clear();
    if (m_ours.empty())
        return;
    std::map<int, unsigned long> empty;
    for (const auto& [code, keysym] : m_ours)
        empty[code] = NoSymbol;
    write(empty);
    m_ours.clear();
}

void X11SpareKeycodes::write(const std::map<int, unsigned long>& mappings)
{
    // One request per run of consecutive codes, the same keysym on every level so that no
    // modifier or case conversion changes it.
    auto it = mappings.begin();
    while (it != mappings.end()) {
        const int first = it->first;
        std::vector<KeySym> block;
        int next = first;
        while (it != mappings.end() && it->first == next) {
            block.insert(block.end(), static_cast<size_t>(m_perCode), it->second);
            ++next;
            ++it;
        }
        XChangeKeyboardMapping(m_display, first, m_perCode, block.data(), next - first);
    }
    // A round trip: the server has applied the mapping and queued its notifications before any key
    // event that follows.
    XSync(m_display, False);
}

} // namespace tessvale
