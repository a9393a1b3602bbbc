#pragma once

#include <functional>
#include <memory>

#include "async/Sleeper.h"
#include "coordinator/DictationCoordinator.h"
#include "platform/PlatformServices.h"
#include "settings/ShortcutBinding.h"
#include "shortcuts/DictationShortcutEngine.h"
#include "shortcuts/KeyboardEventMonitor.h"

namespace tessvale::testing {

// The shortcut engine over the desktop's keyboard, wired to the coordinator as the application wires
// it; observer hears each action first. Not started.
inline std::unique_ptr<DictationShortcutEngine> makeShortcutEngine(DictationCoordinator& coordinator,
    const PlatformServices& platform, std::function<void(DictationShortcutAction)> observer = {})
{
    DictationCoordinator* c = &coordinator;
    auto onAction = [c, observer = std::move(observer)](DictationShortcutAction action) {
        if (observer)
            observer(action);
        switch (action) {
        case DictationShortcutAction::startPushToTalk:
            c->startPushToTalk();
            break;
        case DictationShortcutAction::stopPushToTalk:
            c->stopPushToTalk();
            break;
        case DictationShortcutAction::toggleHandsFree:
            c->toggleHandsFree();
            break;
        }
    };
    auto onError = [c](const std::optional<QString>& text) { c->updateShortcutError(text); };
    auto handsFreeActive = [c] {
        return c->triggerMode() == DictationTriggerMode::handsFree
            && (c->phase() == DictationPhase::recording || c->phase() == DictationPhase::starting);
    };
    return std::make_unique<DictationShortcutEngine>(ShortcutBinding::defaultPushToTalk,
        ShortcutBinding::defaultHandsFreeToggle, std::move(onAction), std::move(onError), std::move(handsFreeActive),
        KeyboardEventMonitor::factory(platform, Sleeper::system()), Sleeper::system());
}

} // namespace tessvale::testing
