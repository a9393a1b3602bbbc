#pragma once

#include <QString>

namespace tessvale {

// Whether this process may observe and synthesize keyboard input in the desktop session. Read afresh
// on every call: the answer changes when the session does.
class AccessibilityTrust
{
public:
    virtual ~AccessibilityTrust() = default;

    // reason (when given) says why not, in words for the user's log.
    virtual bool isTrusted(QString* reason = nullptr) = 0;
};

} // namespace tessvale
