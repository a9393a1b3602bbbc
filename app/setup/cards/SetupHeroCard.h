#pragma once

#include <QList>
#include <QWidget>

#include "setup/SetupModel.h"

namespace tessvale {

class StatusBadge;

// The window's head: the app mark and name, the tagline and the status badges.
class SetupHeroCard final : public QWidget
{
    Q_OBJECT

public:
    explicit SetupHeroCard(QWidget* parent = nullptr);
    void apply(const SetupHeroContent& content);

private:
    QWidget* buildMark();

    QList<StatusBadge*> m_badges;
};

} // namespace tessvale
