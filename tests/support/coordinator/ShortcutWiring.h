#pragma once

#include <functional>
#include <memory>

#include "async/Sleeper.h"
#include "coordinator/CoordinatorShortcuts.h"
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
    CoordinatorShortcutHandlers handlers = shortcutHandlers(coordinator);
    auto onAction
        = [action = std::move(handlers.action), observer = std::move(observer)](DictationShortcutAction shortcut) {
              if (observer)
                  observer(shortcut);
              action(shortcut);
          };
    return std::make_unique<DictationShortcutEngine>(ShortcutBinding::defaultPushToTalk,
        ShortcutBinding::defaultHandsFreeToggle, std::move(onAction), std::move(handlers.error),
        std::move(handlers.isHandsFreeActive), KeyboardEventMonitor::factory(platform, Sleeper::system()),
        Sleeper::system());
}

} // namespace tessvale::testing
