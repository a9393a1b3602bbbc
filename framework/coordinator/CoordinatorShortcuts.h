#pragma once

#include <optional>

#include "coordinator/CoordinatorTypes.h"
#include "shortcuts/DictationShortcutEngine.h"

namespace tessvale {

class DictationCoordinator;

// Whether a hands-free dictation runs that the toggle would stop: only while it starts or records.
// Once it finalizes the toggle starts nothing and stops nothing, so the engine treats it as idle.
bool isHandsFreeActive(const std::optional<DictationTriggerMode>& triggerMode, DictationPhase phase);

// The shortcut engine's three handlers over the coordinator, which must outlive them.
struct CoordinatorShortcutHandlers
{
    DictationShortcutEngine::ActionHandler action;
    DictationShortcutEngine::ErrorHandler error;
    DictationShortcutEngine::HandsFreeQuery isHandsFreeActive;
};

CoordinatorShortcutHandlers shortcutHandlers(DictationCoordinator& coordinator);

} // namespace tessvale
