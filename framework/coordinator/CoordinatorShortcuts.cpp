#include "coordinator/CoordinatorShortcuts.h"

#include "coordinator/DictationCoordinator.h"

namespace tessvale {

bool isHandsFreeActive(const std::optional<DictationTriggerMode>& triggerMode, DictationPhase phase)
{
    return triggerMode == DictationTriggerMode::handsFree
        && (phase == DictationPhase::recording || phase == DictationPhase::starting);
}

CoordinatorShortcutHandlers shortcutHandlers(DictationCoordinator& coordinator)
{
    DictationCoordinator* c = &coordinator;
    CoordinatorShortcutHandlers handlers;
    handlers.action = [c](DictationShortcutAction action) {
        switch (action) {
        case DictationShortcutAction::startPushToTalk:
            c->startPushToTalk();
            return;
        case DictationShortcutAction::stopPushToTalk:
            c->stopPushToTalk();
            return;
        case DictationShortcutAction::toggleHandsFree:
            c->toggleHandsFree();
            return;
        }
    };
    handlers.error = [c](const std::optional<QString>& text) { c->updateShortcutError(text); };
    handlers.isHandsFreeActive = [c] { return isHandsFreeActive(c->triggerMode(), c->phase()); };
    return handlers;
}

} // namespace tessvale
