#include "shortcuts/KeyboardEventMonitorError.h"

namespace tessvale {

namespace {

QString describe(KeyboardEventMonitorError::Case errorCase)
{
    switch (errorCase) {
    case KeyboardEventMonitorError::Case::unavailable:
        break;
    }
    return QStringLiteral(
        "Keyboard shortcut monitoring is unavailable. Allow Tessvale to observe keyboard input and try again.");
}

} // namespace

KeyboardEventMonitorError::KeyboardEventMonitorError(Case errorCase, QString detail)
    : TessvaleError(describe(errorCase))
    , m_case(errorCase)
    , m_detail(std::move(detail))
{
}

} // namespace tessvale
