#pragma once

#include <QList>

#include "setup/SetupModel.h"
#include "windows/rows/SettingsSectionCard.h"

class QPushButton;

namespace tessvale {

class OnboardingStepRow;

// The first-dictation checklist: its steps and the button for the current one.
class ChecklistCard final : public SettingsSectionCard
{
    Q_OBJECT

public:
    explicit ChecklistCard(QWidget* parent = nullptr);
    void apply(const SetupChecklistContent& content);
    QPushButton* checklistButton() const { return m_checklistButton; }

signals:
    void actionRequested(SetupAction action);

private:
    QList<OnboardingStepRow*> m_steps;
    QPushButton* m_checklistButton = nullptr;
    SetupAction m_checklistAction = SetupAction::beginSignIn;
};

} // namespace tessvale
