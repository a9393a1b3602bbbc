#pragma once

#include <QWidget>

#include "windows/shortcuts/ShortcutEditorModel.h"

class QLabel;
class QPushButton;

namespace tessvale {

class AppSettings;
class DictationCoordinator;
class SettingsSectionCard;
class ShortcutBindingEditorRow;
class ShortcutEngineSuspension;

// The "Shortcuts" card: both dictation shortcuts with their record buttons, the reset to the default
// pair and the engine's last complaint. It follows both bindings and the complaint as they change.
// suspension (the application's ShortcutWiring) is suspended while a row records; without one the
// engine keeps listening (tests, previews).
class ShortcutSettingsCard final : public QWidget
{
    Q_OBJECT

public:
    ShortcutSettingsCard(AppSettings& settings, DictationCoordinator& coordinator,
        ShortcutEngineSuspension* suspension = nullptr, QWidget* parent = nullptr);

    ShortcutCardModel model() const;

    SettingsSectionCard* card() const { return m_card; }
    ShortcutBindingEditorRow* pushToTalkRow() const { return m_pushToTalkRow; }
    ShortcutBindingEditorRow* handsFreeRow() const { return m_handsFreeRow; }
    QLabel* helpLabel() const { return m_helpLabel; }
    QPushButton* resetButton() const { return m_resetButton; }
    QLabel* errorLabel() const { return m_errorLabel; }

private:
    void applyModel();

    AppSettings& m_settings;
    DictationCoordinator& m_coordinator;
    SettingsSectionCard* m_card;
    ShortcutBindingEditorRow* m_pushToTalkRow;
    ShortcutBindingEditorRow* m_handsFreeRow;
    QLabel* m_helpLabel;
    QPushButton* m_resetButton;
    QLabel* m_errorLabel;
};

} // namespace tessvale
