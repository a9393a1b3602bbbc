#include "setup/cards/GetStartedCard.h"

#include <QHBoxLayout>
#include <QPushButton>
#include <QVBoxLayout>

#include "setup/SetupBlocks.h"
#include "setup/cards/SetupCardParts.h"

namespace tessvale {

namespace {

void applyRows(const QList<SummaryRow*>& rows, const QList<SetupLabelValue>& values)
{
    for (int i = 0; i < rows.size(); ++i) {
        applyVisible(rows[i], i < values.size());
        if (i < values.size()) {
            rows[i]->setLabel(values[i].label);
            rows[i]->setValue(values[i].value);
        }
    }
}

} // namespace

GetStartedCard::GetStartedCard(QWidget* parent)
    : SettingsSectionCard(parent)
{
    contentLayout()->setSpacing(18);
    addContent(new SectionIntro(QStringLiteral("Get Started"),
        QStringLiteral("The fastest path to value is one successful dictation in a real app, then tightening the "
                       "shortcuts around your workflow.")));
    auto* columns = row(20);
    auto* left = column(12);
    auto* right = column(12);
    for (int i = 0; i < 5; ++i) {
        m_summary1.append(new SummaryRow(QString(), QString()));
        left->addWidget(m_summary1.back());
    }
    for (int i = 0; i < 3; ++i) {
        m_summary2.append(new SummaryRow(QString(), QString()));
        right->addWidget(m_summary2.back());
    }
    left->addStretch(1);
    right->addStretch(1);
    columns->addLayout(left, 1);
    columns->addLayout(right, 1);
    contentLayout()->addLayout(columns);
    auto* buttons = row(12);
    m_primary = modelButton(this, true, &m_primaryAction);
    m_primary->setObjectName(QStringLiteral("primaryAction"));
    m_cancel = actionButton(this, QStringLiteral("Cancel"), false, SetupAction::cancelSignIn);
    m_signOut = actionButton(this, QStringLiteral("Sign Out"), false, SetupAction::signOut);
    buttons->addWidget(m_primary);
    buttons->addWidget(m_cancel);
    buttons->addWidget(m_signOut);
    buttons->addStretch(1);
    contentLayout()->addLayout(buttons);
}

void GetStartedCard::apply(const SetupGetStartedContent& content)
{
    applyRows(m_summary1, content.summaryColumn1);
    applyRows(m_summary2, content.summaryColumn2);
    applyModelButton(m_primary, m_primaryAction, content.primary);
    applyVisible(m_cancel, content.showsCancel);
    applyVisible(m_signOut, content.showsSignOut);
}

} // namespace tessvale
