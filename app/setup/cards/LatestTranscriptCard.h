#pragma once

#include <QString>

#include "windows/rows/SettingsSectionCard.h"

class QLabel;

namespace tessvale {

// The last finalized transcript, as plain selectable text on a faint panel.
class LatestTranscriptCard final : public SettingsSectionCard
{
    Q_OBJECT

public:
    explicit LatestTranscriptCard(QWidget* parent = nullptr);
    void apply(const QString& latestTranscript);
    QLabel* transcriptLabel() const { return m_latestTranscript; }

private:
    QLabel* m_latestTranscript = nullptr;
};

} // namespace tessvale
