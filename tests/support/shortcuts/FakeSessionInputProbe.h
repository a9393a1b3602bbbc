#pragma once

#include "platform/shortcuts/SessionInputProbe.h"

namespace tessvale {

// The session's keyboard state as the test sets it; counts the grab probes.
class FakeSessionInputProbe final : public SessionInputProbe
{
public:
    bool isKeyboardGrabbedElsewhere() override
    {
        ++grabProbes;
        return keyboardGrabbedElsewhere;
    }
    bool isSessionLocked() override { return sessionLocked; }

    bool keyboardGrabbedElsewhere = false;
    bool sessionLocked = false;
    int grabProbes = 0;
};

} // namespace tessvale
