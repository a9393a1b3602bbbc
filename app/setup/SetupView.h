#pragma once

#include <QList>
#include <QWidget>

#include "setup/SetupModel.h"

class QLabel;
class QLineEdit;
class QPushButton;
class QScrollArea;
class QVBoxLayout;

namespace tessvale {

class AppSettings;
class BrowserSignInCard;
class ChecklistCard;
class DictationCoordinator;
class GetStartedCard;
class LatestTranscriptCard;
class LaunchAtLoginService;
class PermissionsCard;
class ReadyCard;
class SettingsPickerRow;
class SettingsToggleRow;
class SetupErrorBanner;
class SetupHeroCard;
class SetupPreferencesCard;
class TroubleshootingCard;

// The setup window's content: one card a section, each applying its part of setupContent() of the
// current state; the cards turn the user's clicks and edits into one operation or one setting each.
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

    QPushButton* primaryButton() const;
    QPushButton* checklistButton() const;
    QLineEdit* deviceNameField() const;
    SettingsToggleRow* launchAtLoginRow() const;
    SettingsPickerRow* microphonePicker() const;
    QLabel* latestTranscriptLabel() const;
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
    QWidget* buildContent();
    template <typename Card> Card* withActions(Card* card);

    AppSettings& m_settings;
    DictationCoordinator& m_coordinator;
    LaunchAtLoginService& m_launchAtLoginService;
    SetupContent m_content;
    bool m_showTroubleshooting = false;
    bool m_refreshPending = false;

    QScrollArea* m_scroll = nullptr;
    QList<QPair<SetupSection, QWidget*>> m_sections;
    QVBoxLayout* m_shortcutsSlot = nullptr;

    SetupHeroCard* m_hero = nullptr;
    SetupErrorBanner* m_errorBanner = nullptr;
    BrowserSignInCard* m_browserSignIn = nullptr;
    GetStartedCard* m_getStarted = nullptr;
    ChecklistCard* m_checklist = nullptr;
    ReadyCard* m_readyCard = nullptr;
    LatestTranscriptCard* m_latestTranscript = nullptr;
    PermissionsCard* m_permissions = nullptr;
    SetupPreferencesCard* m_preferences = nullptr;
    TroubleshootingCard* m_troubleshooting = nullptr;
};

} // namespace tessvale
