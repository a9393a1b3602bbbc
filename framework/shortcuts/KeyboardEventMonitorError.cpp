#include "shortcuts/KeyboardEventMonitorError.h"

namespace tessvale {

KeyboardEventMonitorError::KeyboardEventMonitorError(Case errorCase, QString detail)
    : m_case(errorCase)
    , m_detail(std::move(detail))
    , m_what(localizedDescription().toUtf8())
{
}

QString KeyboardEventMonitorError::localizedDescription() const
{
    switch (m_case) {
    case Case::unavailable:
        break;
    }
    return QStringLiteral(
        "Keyboard shortcut monitoring is unavailable. Allow Tessvale to observe keyboard input and try again.");
}

} // namespace tessvale
