#pragma once

#include <QList>

#include "setup/SetupModel.h"
#include "windows/rows/SettingsSectionCard.h"

class QPushButton;

namespace tessvale {

class SummaryRow;

// The account, device and shortcuts at a glance, with the next step and sign-in's cancel and
// sign-out.
class GetStartedCard final : public SettingsSectionCard
{
    Q_OBJECT

public:
    explicit GetStartedCard(QWidget* parent = nullptr);
    void apply(const SetupGetStartedContent& content);
    QPushButton* primaryButton() const { return m_primary; }

signals:
    void actionRequested(SetupAction action);

private:
    QList<SummaryRow*> m_summary1;
    QList<SummaryRow*> m_summary2;
    QPushButton* m_primary = nullptr;
    SetupAction m_primaryAction = SetupAction::beginSignIn;
    QPushButton* m_cancel = nullptr;
    QPushButton* m_signOut = nullptr;
};

} // namespace tessvale
