#include "focus/FocusedInsertionTarget.h"

#include <QStringList>

namespace tessvale {

FocusedInsertionTarget::FocusedInsertionTarget(FocusedApplicationTarget application,
    AccessibilityElement focusedElement, AccessibilityElement focusedWindow, std::optional<QString> focusedElementRole,
    std::optional<QString> focusedElementTitle, bool requiresTextFocusRestore, quint64 windowId)
    : m_application(std::move(application))
    , m_focusedElement(std::move(focusedElement))
    , m_focusedWindow(std::move(focusedWindow))
    , m_focusedElementRole(std::move(focusedElementRole))
    , m_focusedElementTitle(std::move(focusedElementTitle))
    , m_requiresTextFocusRestore(requiresTextFocusRestore)
    , m_windowId(windowId)
{
}

QString FocusedInsertionTarget::summary() const
{
    return QStringLiteral("%1 pid=%2 role=%3 requiresTextFocusRestore=%4")
        .arg(m_application.name)
        .arg(m_application.processIdentifier)
        .arg(m_focusedElementRole.value_or(QStringLiteral("unknown-role")),
            m_requiresTextFocusRestore ? QStringLiteral("true") : QStringLiteral("false"));
}

QString FocusedInsertionTarget::userFacingLocationSummary() const
{
    QStringList parts { m_application.name };
    if (m_focusedElementRole && !m_focusedElementRole->isEmpty())
        parts << *m_focusedElementRole;
    if (m_focusedElementTitle && !m_focusedElementTitle->isEmpty())
        parts << QLatin1Char('"') + *m_focusedElementTitle + QLatin1Char('"');
    return parts.join(QStringLiteral(" / "));
}

} // namespace tessvale
