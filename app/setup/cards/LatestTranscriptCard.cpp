#include "setup/cards/LatestTranscriptCard.h"

#include <QLabel>
#include <QVBoxLayout>

#include "setup/cards/SetupCardParts.h"
#include "windows/rows/RowStyle.h"

namespace tessvale {

LatestTranscriptCard::LatestTranscriptCard(QWidget* parent)
    : SettingsSectionCard(parent)
{
    contentLayout()->setSpacing(12);
    addContent(new SectionIntro(QStringLiteral("Latest Transcript"),
        QStringLiteral("The most recent finalized text returned from the cloud. If this looks good in the app where "
                       "you dictated, the core workflow is working.")));
    auto* panel = new SetupPanel(std::nullopt, 14, 0.04, 0);
    auto* layout = column(0, panel);
    layout->setContentsMargins(14, 14, 14, 14);
    m_latestTranscript = plainLabel(QString(), TextStyle::body, false);
    makeSelectable(m_latestTranscript);
    layout->addWidget(m_latestTranscript);
    addContent(panel);
}

void LatestTranscriptCard::apply(const QString& latestTranscript)
{
    applyText(m_latestTranscript, latestTranscript);
}

} // namespace tessvale
