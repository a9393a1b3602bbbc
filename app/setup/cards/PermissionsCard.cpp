#include "setup/cards/PermissionsCard.h"

#include <QHBoxLayout>
#include <QPushButton>
#include <QVBoxLayout>

#include "setup/SetupBlocks.h"
#include "setup/cards/SetupCardParts.h"

namespace tessvale {

PermissionsCard::PermissionsCard(QWidget* parent)
    : SettingsSectionCard(parent)
{
    contentLayout()->setSpacing(16);
    addContent(new SectionIntro(QStringLiteral("Permissions"),
        QStringLiteral("Microphone is needed for recording. Accessibility is needed to place text into the app you "
                       "are using. Status updates automatically after you change permissions.")));
    m_microphonePermission = new PermissionLine(QStringLiteral("Microphone"));
    m_accessibilityPermission = new PermissionLine(QStringLiteral("Accessibility"));
    addContent(m_microphonePermission);
    addContent(m_accessibilityPermission);
    auto* buttons = row(10);
    buttons->addWidget(actionButton(this, QStringLiteral("Microphone"), true, SetupAction::promptForMicrophone));
    buttons->addWidget(actionButton(this, QStringLiteral("Accessibility"), false, SetupAction::promptForAccessibility));
    buttons->addStretch(1);
    contentLayout()->addLayout(buttons);
}

void PermissionsCard::apply(const SetupPermissionsContent& content)
{
    m_microphonePermission->setState(content.microphone);
    m_accessibilityPermission->setState(content.accessibility);
}

} // namespace tessvale
