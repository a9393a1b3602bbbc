#pragma once

#include <QUrl>

#include "platform/PlatformResult.h"

namespace tessvale {

// Opens the desktop's own settings pages and URLs. Each call returns at once; a failure means nothing
// could be opened, and says why.
class SystemSettingsOpener
{
public:
    virtual ~SystemSettingsOpener() = default;

    virtual PlatformResult openSoundSettings() = 0;
    virtual PlatformResult openAccessibilitySettings() = 0;
    virtual PlatformResult openUrl(const QUrl& url) = 0;
};

} // namespace tessvale
