#include "setup/cards/PersonalTermsCard.h"

#include <QVBoxLayout>

#include "windows/rows/RowStyle.h"

namespace tessvale {

PersonalTermsCard::PersonalTermsCard(QWidget* parent)
    : SettingsSectionCard(parent)
{
    contentLayout()->setSpacing(10);
    addContent(new SectionIntro(QStringLiteral("Personal Terms"),
        QStringLiteral("Add product names, people, and custom terms to keep your transcripts accurate.")));
    addContent(plainLabel(
        QStringLiteral("Glossary editing is available in the Tessvale dashboard. In-app editing is coming soon."),
        TextStyle::subheadline, true));
}

} // namespace tessvale
