#include "setup/cards/ChecklistCard.h"

#include <QPushButton>
#include <QVBoxLayout>

#include "setup/SetupBlocks.h"
#include "setup/cards/SetupCardParts.h"
#include "windows/rows/RowStyle.h"

namespace tessvale {

ChecklistCard::ChecklistCard(QWidget* parent)
    : SettingsSectionCard(parent)
{
    contentLayout()->setSpacing(16);
    addContent(new SectionIntro(QStringLiteral("First Successful Dictation"),
        QStringLiteral("Launch readiness for the product starts here: connect the account, grant permissions, and "
                       "watch one cleaned-up result come back into the app you were already using.")));
    auto* steps = new QWidget;
    auto* stepsLayout = column(12, steps);
    for (int i = 0; i < 3; ++i) {
        m_steps.append(new OnboardingStepRow);
        stepsLayout->addWidget(m_steps.back());
    }
    addContent(steps);
    m_checklistButton = modelButton(this, true, &m_checklistAction);
    m_checklistButton->setObjectName(QStringLiteral("checklistAction"));
    contentLayout()->addWidget(m_checklistButton, 0, Qt::AlignLeft);
    addContent(plainLabel(QStringLiteral("The goal is not finishing settings. The goal is one successful "
                                         "dictation that comes back clean enough to send."),
        TextStyle::footnote, true));
}

void ChecklistCard::apply(const SetupChecklistContent& content)
{
    for (int i = 0; i < m_steps.size() && i < content.steps.size(); ++i)
        m_steps[i]->setStep(content.steps[i]);
    applyModelButton(m_checklistButton, m_checklistAction, content.checklistButton);
}

} // namespace tessvale
