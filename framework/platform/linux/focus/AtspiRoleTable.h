#pragma once

#include "platform/linux/BackendOnly.h"

#include <optional>

#include <QString>

namespace tessvale {

// The desktop's accessibility vocabulary spoken in our role words ("AXTextField", ...): one table
// from AT-SPI roles (with the states that refine them) to a role and an optional subrole.
struct MappedRole
{
    QString role;
    std::optional<QString> subrole;
};

// atspiRole is an AtspiRole value; multiLine and singleLine come from the element's states.
MappedRole mapAtspiRole(int atspiRole, bool multiLine);

} // namespace tessvale
