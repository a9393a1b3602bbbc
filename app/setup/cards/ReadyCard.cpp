#include "setup/cards/ReadyCard.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "icons/SymbolIcons.h"
#include "setup/SetupBlocks.h"
#include "setup/cards/SetupCardParts.h"
#include "windows/rows/RowStyle.h"

namespace tessvale {

ReadyCard::ReadyCard(QWidget* parent)
    : SettingsSectionCard(parent)
{
    contentLayout()->setSpacing(16);
    auto* top = row(14);
    auto* mark = new QLabel;
    mark->setFixedSize(42, 42);
    mark->setAlignment(Qt::AlignCenter);
    mark->setPixmap(tintedSymbolPixmap(
        QStringLiteral("checkmark.circle.fill"), setupTintColor(SetupTint::green, palette()), 22, devicePixelRatioF()));
    QColor fill = setupTintColor(SetupTint::green, palette());
    fill.setAlphaF(0.16);
    mark->setStyleSheet(QStringLiteral("background: %1; border-radius: 21px;").arg(fill.name(QColor::HexArgb)));
    mark->setAccessibleName(QStringLiteral("Ready"));
    top->addWidget(mark, 0, Qt::AlignTop);
    auto* text = column(6);
    text->addWidget(plainLabel(QStringLiteral("Tessvale is ready on this computer"), TextStyle::title3Semibold, false));
    text->addWidget(plainLabel(QStringLiteral("You already proved the core workflow with one clean end-to-end "
                                              "dictation. From here, the highest leverage work is refining "
                                              "shortcuts and personal terms."),
        TextStyle::subheadline, true));
    top->addLayout(text, 1);
    contentLayout()->addLayout(top);
    auto* buttons = row(12);
    m_runAnother = modelButton(this, true, &m_runAnotherAction);
    m_runAnother->setObjectName(QStringLiteral("runAnother"));
    m_copyTranscript
        = actionButton(this, QStringLiteral("Copy Latest Transcript"), false, SetupAction::copyLatestTranscript);
    buttons->addWidget(m_runAnother);
    buttons->addWidget(m_copyTranscript);
    buttons->addWidget(actionButton(this, QStringLiteral("Dismiss"), false, SetupAction::dismissLaunchReadiness));
    buttons->addStretch(1);
    contentLayout()->addLayout(buttons);
}

void ReadyCard::apply(const SetupReadyContent& content)
{
    applyModelButton(m_runAnother, m_runAnotherAction, content.runAnother);
    applyVisible(m_copyTranscript, content.showsCopyLatestTranscript);
}

} // namespace tessvale
