#pragma once

#include <QList>
#include <QWidget>

#include "setup/SetupModel.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QLineEdit;
class QPushButton;
class QScrollArea;
class QToolButton;
class QVBoxLayout;

namespace tessvale {

class AppSettings;
class DictationCoordinator;
class LaunchAtLoginService;
class OnboardingStepRow;
class PermissionLine;
class SettingsPickerRow;
class SettingsSectionCard;
class SettingsToggleRow;
class SettingsValueRow;
class StatusBadge;
class SummaryRow;

// The setup window's content: applies setupContent() of the current state, section by section, and
// turns the user's clicks and edits into one operation or one setting each.
class SetupView final : public QWidget
{
    Q_OBJECT

public:
    SetupView(AppSettings& settings, DictationCoordinator& coordinator, LaunchAtLoginService& launchAtLogin,
        QWidget* parent = nullptr);
    ~SetupView() override;

    // Puts the shortcuts card in its place below the transcript card.
    void setShortcutsCard(QWidget* card);

    bool showTroubleshooting() const { return m_showTroubleshooting; }
    void setShowTroubleshooting(bool expanded);

    const SetupContent& content() const { return m_content; }
    // Whether the section's widget is shown (after the last refresh).
    bool isSectionShown(SetupSection section) const;

    QPushButton* primaryButton() const { return m_primary; }
    QPushButton* checklistButton() const { return m_checklistButton; }
    QLineEdit* deviceNameField() const { return m_deviceName; }
    SettingsToggleRow* launchAtLoginRow() const { return m_launchAtLogin; }
    SettingsPickerRow* microphonePicker() const { return m_microphone; }
    QLabel* latestTranscriptLabel() const { return m_latestTranscript; }
    QScrollArea* scrollArea() const { return m_scroll; }

public slots:
    // Applies the current state now.
    void refresh();

protected:
    void showEvent(QShowEvent* event) override;

private:
    void scheduleRefresh();
    void perform(SetupAction action);
    QWidget* sectionWidget(SetupSection section) const;
    QPushButton* actionButton(const QString& title, bool prominent, SetupAction action);
    QPushButton* modelButton(bool prominent, SetupAction* action);

    QWidget* buildHero();
    QWidget* buildErrorBanner();
    static QLineEdit* addressField();
    static void applyAddress(QLineEdit* field, const QString& address);
    SettingsSectionCard* buildGetStarted();
    SettingsSectionCard* buildChecklist();
    SettingsSectionCard* buildReadyCard();
    SettingsSectionCard* buildBrowserSignIn();
    SettingsSectionCard* buildLatestTranscript();
    SettingsSectionCard* buildPermissions();
    SettingsSectionCard* buildPreferences();
    SettingsSectionCard* buildPersonalTerms();
    SettingsSectionCard* buildTroubleshooting();

    AppSettings& m_settings;
    DictationCoordinator& m_coordinator;
    LaunchAtLoginService& m_launchAtLoginService;
    SetupContent m_content;
    bool m_showTroubleshooting = false;
    bool m_refreshPending = false;

    QScrollArea* m_scroll = nullptr;
    QList<QPair<SetupSection, QWidget*>> m_sections;
    QVBoxLayout* m_shortcutsSlot = nullptr;

    QList<StatusBadge*> m_badges;
    QLabel* m_errorText = nullptr;
    QLineEdit* m_errorSignInAddress = nullptr;
    QPushButton* m_retryInsert = nullptr;

    QList<SummaryRow*> m_summary1;
    QList<SummaryRow*> m_summary2;
    QPushButton* m_primary = nullptr;
    SetupAction m_primaryAction = SetupAction::beginSignIn;
    QPushButton* m_cancel = nullptr;
    QPushButton* m_signOut = nullptr;

    QList<OnboardingStepRow*> m_steps;
    QPushButton* m_checklistButton = nullptr;
    SetupAction m_checklistAction = SetupAction::beginSignIn;
    QPushButton* m_runAnother = nullptr;
    SetupAction m_runAnotherAction = SetupAction::toggleRecording;
    QPushButton* m_copyTranscript = nullptr;

    SummaryRow* m_attempt = nullptr;
    SummaryRow* m_callback = nullptr;
    QLineEdit* m_signInAddress = nullptr;
    QLabel* m_latestTranscript = nullptr;

    PermissionLine* m_microphonePermission = nullptr;
    PermissionLine* m_accessibilityPermission = nullptr;

    SettingsPickerRow* m_microphone = nullptr;
    SettingsToggleRow* m_launchAtLogin = nullptr;
    SettingsToggleRow* m_restoreClipboard = nullptr;
    SettingsToggleRow* m_appendTrailingSpace = nullptr;
    SettingsToggleRow* m_restoreOriginalInput = nullptr;

    QToolButton* m_disclosure = nullptr;
    QWidget* m_troubleshootingContent = nullptr;
    QLineEdit* m_deviceName = nullptr;
    QCheckBox* m_preferDirectTyping = nullptr;
    QLabel* m_healthCheck = nullptr;
    QWidget* m_focusedAppGroup = nullptr;
    QList<SettingsValueRow*> m_focusedApp;
    QWidget* m_activityGroup = nullptr;
    QList<QPair<QLabel*, QLabel*>> m_activity;
    QLabel* m_loginError = nullptr;
    QLabel* m_shortcutError = nullptr;
    QPushButton* m_supportLink = nullptr;
};

} // namespace tessvale
