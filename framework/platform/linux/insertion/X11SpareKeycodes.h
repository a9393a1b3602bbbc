#pragma once

#include "platform/linux/BackendOnly.h"

#include <map>
#include <optional>
#include <set>
#include <vector>

// Xlib's Display, kept opaque so callers outside the Linux backends never see X11 headers.
typedef struct _XDisplay Display;

namespace tessvale {

// The key codes with no symbol on them, lent out to type characters the layout lacks. A code keeps
// the meaning it was given until the caller says the target has read every key typed with it: a
// target looks its keymap up again when it gets round to the change notification, so changing a
// code earlier would turn its unread keys into other characters or none.
class X11SpareKeycodes
{
public:
    explicit X11SpareKeycodes(Display* display);
    // Gives every code we changed its empty mapping back.
    ~X11SpareKeycodes();
    X11SpareKeycodes(const X11SpareKeycodes&) = delete;
    X11SpareKeycodes& operator=(const X11SpareKeycodes&) = delete;

    // Reads the keyboard mapping again: which codes are spare now (empty ones, and ours unless
    // someone else changed them since).
    void refresh();
    int spareCount() const { return static_cast<int>(m_spare.size()); }

    // A code that types keysym, added to inUse. One already showing keysym is used as it is; otherwise
    // a spare code outside inUse is given keysym by the next apply(). Absent when every spare code is
    // in inUse.
    std::optional<int> codeFor(unsigned long keysym, std::set<int>& inUse);
    // Writes the mappings that codeFor planned and waits until the server has applied them; false
    // when there was nothing to write.
    bool apply();
    // Empties every code we changed (only once no unread key may still use one).
    void resetAll();

private:
    void write(const std::map<int, unsigned long>& mappings);

    Display* m_display;
    int m_perCode = 1;
    std::vector<int> m_spare;
    // Codes whose mapping we changed, with the keysym they have now on the server.
    std::map<int, unsigned long> m_ours;
    std::map<int, unsigned long> m_planned;
};

} // namespace tessvale
