#pragma once

#include <QUrl>

namespace tessvale {

// Opens the desktop's own settings pages and URLs. Each call returns at once; false means nothing
// could be opened (the backend logs why).
class SystemSettingsOpener
{
public:
    virtual ~SystemSettingsOpener() = default;

    virtual bool openSoundSettings() = 0;
    virtual bool openAccessibilitySettings() = 0;
    virtual bool openUrl(const QUrl& url) = 0;
};

} // namespace tessvale
