#pragma once

#include "platform/linux/BackendOnly.h"

#include <functional>

#include <QString>
#include <QStringList>

#include "platform/system/SystemSettingsOpener.h"

namespace tessvale {

// Opens the settings panels of the running desktop (GNOME, KDE Plasma, or a stand-alone mixer for
// sound) and URLs through xdg-open. Programs are started detached; nothing waits for them.
class XdgSystemSettingsOpener : public SystemSettingsOpener
{
public:
    struct Environment
    {
        QString currentDesktop; // XDG_CURRENT_DESKTOP
        std::function<QString(const QString&)> findExecutable; // empty result: not installed
        std::function<bool(const QString&, const QStringList&)> launch; // starts a program detached
    };

    XdgSystemSettingsOpener();
    explicit XdgSystemSettingsOpener(Environment environment);

    PlatformResult openSoundSettings() override;
    PlatformResult openAccessibilitySettings() override;
    PlatformResult openUrl(const QUrl& url) override;

private:
    struct Command
    {
        QString program;
        QStringList arguments;
    };

    PlatformResult runFirstAvailable(const QList<Command>& candidates, const QString& what);
    bool desktopIs(const QString& name) const;

    Environment m_environment;
};

} // namespace tessvale
