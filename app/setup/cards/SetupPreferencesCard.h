#pragma once

#include "setup/SetupModel.h"
#include "windows/rows/SettingsSectionCard.h"

namespace tessvale {

class AppSettings;
class SettingsPickerRow;
class SettingsToggleRow;

// The everyday defaults as switches, and the microphone picker; each writes its one setting, the
// login item goes to its service through the owner.
class SetupPreferencesCard final : public SettingsSectionCard
{
    Q_OBJECT

public:
    explicit SetupPreferencesCard(AppSettings& settings, QWidget* parent = nullptr);
    void apply(const SetupPreferencesContent& content);

    SettingsPickerRow* microphonePicker() const { return m_microphone; }
    SettingsToggleRow* launchAtLoginRow() const { return m_launchAtLogin; }

signals:
    void launchAtLoginChosen(bool on);

private:
    SettingsPickerRow* m_microphone = nullptr;
    SettingsToggleRow* m_launchAtLogin = nullptr;
    SettingsToggleRow* m_restoreClipboard = nullptr;
    SettingsToggleRow* m_appendTrailingSpace = nullptr;
    SettingsToggleRow* m_restoreOriginalInput = nullptr;
};

} // namespace tessvale
