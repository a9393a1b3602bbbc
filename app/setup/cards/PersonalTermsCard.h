#pragma once

#include "windows/rows/SettingsSectionCard.h"

namespace tessvale {

// Where the glossary is edited; it shows nothing of the state.
class PersonalTermsCard final : public SettingsSectionCard
{
    Q_OBJECT

public:
    explicit PersonalTermsCard(QWidget* parent = nullptr);
};

} // namespace tessvale
