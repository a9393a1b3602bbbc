#pragma once

#include "setup/SetupModel.h"
#include "windows/rows/SettingsSectionCard.h"

namespace tessvale {

class PermissionLine;

// The microphone and accessibility permissions, each with the button that asks for it.
class PermissionsCard final : public SettingsSectionCard
{
    Q_OBJECT

public:
    explicit PermissionsCard(QWidget* parent = nullptr);
    void apply(const SetupPermissionsContent& content);

signals:
    void actionRequested(SetupAction action);

private:
    PermissionLine* m_microphonePermission = nullptr;
    PermissionLine* m_accessibilityPermission = nullptr;
};

} // namespace tessvale
