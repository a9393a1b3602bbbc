#pragma once

#include "platform/linux/BackendOnly.h"

#include <QFileSystemWatcher>
#include <QObject>

#include "platform/system/DesktopColorScheme.h"

class QDBusMessage;
class QDBusPendingCallWatcher;

namespace tessvale {

// The freedesktop "color-scheme" setting that the settings portal publishes (read at start, then
// followed through its SettingChanged signal). Where no portal answers, the GTK settings file's
// dark-theme preference, followed as the file changes.
class PortalColorScheme final : public QObject, public DesktopColorScheme
{
    Q_OBJECT

public:
    PortalColorScheme();
    ~PortalColorScheme() override;

    Preference preference() const override { return m_preference; }
    void watch(std::function<void(Preference)> onChange) override;

    // The portal's value: 1 prefers dark, 2 light, anything else none.
    static Preference fromPortalValue(uint value);
    // The GTK 3 settings file's text: its dark-theme preference, or a theme named dark.
    static Preference fromGtkSettings(const QString& settingsText);

private slots:
    void settingChanged(const QDBusMessage& message);

private:
    void readReplied(QDBusPendingCallWatcher* call);
    void useGtkSettings();
    void setPreference(Preference preference);

    Preference m_preference = Preference::none;
    bool m_portalAnswered = false;
    std::function<void(Preference)> m_onChange;
    QFileSystemWatcher m_gtkWatcher;
};

} // namespace tessvale
