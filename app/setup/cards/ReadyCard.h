#pragma once

#include "setup/SetupModel.h"
#include "windows/rows/SettingsSectionCard.h"

class QPushButton;

namespace tessvale {

// Shown once the first dictation came back: run another, copy it, or dismiss the card.
class ReadyCard final : public SettingsSectionCard
{
    Q_OBJECT

public:
    explicit ReadyCard(QWidget* parent = nullptr);
    void apply(const SetupReadyContent& content);

signals:
    void actionRequested(SetupAction action);

private:
    QPushButton* m_runAnother = nullptr;
    SetupAction m_runAnotherAction = SetupAction::toggleRecording;
    QPushButton* m_copyTranscript = nullptr;
};

} // namespace tessvale
