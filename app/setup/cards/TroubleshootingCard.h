#pragma once

#include <QList>
#include <QPair>

#include "setup/SetupModel.h"
#include "windows/rows/SettingsSectionCard.h"

class QCheckBox;
class QLabel;
class QLayout;
class QLineEdit;
class QPushButton;
class QToolButton;

namespace tessvale {

class AppSettings;
class SettingsValueRow;

// Folded by default: the connection settings, the focused app's reading, recent activity and the
// last errors, with the support address.
class TroubleshootingCard final : public SettingsSectionCard
{
    Q_OBJECT

public:
    explicit TroubleshootingCard(AppSettings& settings, QWidget* parent = nullptr);
    void apply(const SetupTroubleshootingContent& content);
    // Unfolds or folds the content; the disclosure follows without reporting it again.
    void setExpanded(bool expanded);

    QLineEdit* deviceNameField() const { return m_deviceName; }

signals:
    void actionRequested(SetupAction action);
    // The user opened or closed the disclosure.
    void disclosureToggled(bool expanded);

private:
    QLayout* buildConnection(AppSettings& settings);
    QWidget* buildFocusedApp();
    QWidget* buildActivity();
    void applyDiagnostics(const SetupTroubleshootingContent& content);

    QToolButton* m_disclosure = nullptr;
    QWidget* m_content = nullptr;
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
