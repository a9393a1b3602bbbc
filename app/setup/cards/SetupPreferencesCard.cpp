#include "setup/cards/SetupPreferencesCard.h"

#include <QVBoxLayout>

#include "settings/AppSettings.h"
#include "windows/rows/SettingsPickerRow.h"
#include "windows/rows/SettingsToggleRow.h"

namespace tessvale {

SetupPreferencesCard::SetupPreferencesCard(AppSettings& settings, QWidget* parent)
    : SettingsSectionCard(parent)
{
    contentLayout()->setSpacing(16);
    addContent(new SectionIntro(
        QStringLiteral("Preferences"), QStringLiteral("A few defaults that matter for everyday use.")));
    m_microphone = new SettingsPickerRow(QStringLiteral("Microphone"),
        QStringLiteral("Use the system default microphone, or choose a specific input device."));
    connect(m_microphone, &SettingsPickerRow::selectionChosen, this,
        [&settings](const QString& uid) { settings.setPreferredMicrophoneUID(uid); });
    addContent(m_microphone);

    using Style = SettingsToggleRow::Style;
    m_launchAtLogin = new SettingsToggleRow(QStringLiteral("Launch at login"), QString(), Style::switchControl);
    // The service registers the login item; the switch then shows what it reports.
    connect(m_launchAtLogin, &SettingsToggleRow::toggledByUser, this, &SetupPreferencesCard::launchAtLoginChosen);
    m_restoreClipboard = new SettingsToggleRow(QStringLiteral("Restore clipboard after paste"),
        QStringLiteral("Return your previous clipboard contents after dictation inserts text."), Style::switchControl);
    connect(m_restoreClipboard, &SettingsToggleRow::toggledByUser, &settings, &AppSettings::setRestoreClipboard);
    m_appendTrailingSpace = new SettingsToggleRow(QStringLiteral("Append trailing space"),
        QStringLiteral("Add a space after inserted transcript text."), Style::switchControl);
    connect(m_appendTrailingSpace, &SettingsToggleRow::toggledByUser, &settings, &AppSettings::setAppendTrailingSpace);
    m_restoreOriginalInput = new SettingsToggleRow(QStringLiteral("Return to original input field"),
        QStringLiteral("After dictation, put text back into the field where you started, even if you switched "
                       "windows."),
        Style::switchControl);
    connect(m_restoreOriginalInput, &SettingsToggleRow::toggledByUser, &settings,
        &AppSettings::setRestoreOriginalInputAfterDictation);
    for (QWidget* widget : { m_launchAtLogin, m_restoreClipboard, m_appendTrailingSpace, m_restoreOriginalInput })
        addContent(widget);
}

void SetupPreferencesCard::apply(const SetupPreferencesContent& content)
{
    QList<PickerOption> options;
    for (const SetupMicrophoneOption& option : content.microphoneOptions)
        options.append(PickerOption { option.label, option.uid });
    m_microphone->setOptions(options);
    m_microphone->setSelection(content.preferredMicrophoneUID);
    m_launchAtLogin->setChecked(content.launchAtLoginOn);
    m_launchAtLogin->setSubtitle(content.launchAtLoginSubtitle);
    m_restoreClipboard->setChecked(content.restoreClipboard);
    m_appendTrailingSpace->setChecked(content.appendTrailingSpace);
    m_restoreOriginalInput->setChecked(content.restoreOriginalInput);
}

} // namespace tessvale
