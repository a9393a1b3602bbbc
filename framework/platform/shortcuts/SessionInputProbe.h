#pragma once

#include <optional>

#include <QString>

namespace tessvale {

// Tells when the keyboard belongs to someone else, so that no dictation starts and no key is sent:
// another client holds an active keyboard grab (a screen locker, an open menu), or the session is
// locked. A passive listener sees keys either way, so it has to ask.
class SessionInputProbe
{
public:
    virtual ~SessionInputProbe() = default;

    // Keys go to another client alone. Probing may take and at once release a grab of our own.
    virtual bool isKeyboardGrabbedElsewhere() = 0;
    // The session is locked or its screen saver runs.
    virtual bool isSessionLocked() = 0;
};

enum class InputBlock {
    sessionLocked,
    keyboardGrabbedElsewhere,
};

// What keeps keys from the session now, the lock first; the grab only when probeGrab is set (a
// grab of our own, active while its key is held, would otherwise count as another client's).
std::optional<InputBlock> currentInputBlock(SessionInputProbe& probe, bool probeGrab = true);
// For logs.
QString describe(InputBlock block);

} // namespace tessvale
