#include "platform/shortcuts/SessionInputProbe.h"

namespace tessvale {

std::optional<InputBlock> currentInputBlock(SessionInputProbe& probe, bool probeGrab)
{
    if (probe.isSessionLocked())
        return InputBlock::sessionLocked;
    if (probeGrab && probe.isKeyboardGrabbedElsewhere())
        return InputBlock::keyboardGrabbedElsewhere;
    return std::nullopt;
}

QString describe(InputBlock block)
{
    switch (block) {
    case InputBlock::sessionLocked:
        return QStringLiteral("the session is locked");
    case InputBlock::keyboardGrabbedElsewhere:
        return QStringLiteral("another application has grabbed the keyboard");
    }
    return {};
}

} // namespace tessvale
