#include "focus/FocusedAppDiagnosticsService.h"

namespace tessvale {

namespace {
const QString unknownApp = QStringLiteral("Unknown App");
}

FocusedAppDiagnosticsService::FocusedAppDiagnosticsService(
    std::shared_ptr<WindowSystem> windowSystem, std::shared_ptr<Accessibility> accessibility)
    : m_windowSystem(std::move(windowSystem))
    , m_accessibility(std::move(accessibility))
{
}

std::optional<FocusedAppDiagnostics> FocusedAppDiagnosticsService::current() const
{
    const auto app = m_windowSystem->frontmostApplication();
    if (!app)
        return std::nullopt;
    const AccessibilityElement element = currentFocusedElement();
    FocusedAppDiagnostics diagnostics;
    diagnostics.appName = app->name.isEmpty() ? unknownApp : app->name;
    diagnostics.bundleIdentifier = app->bundleIdentifier;
    diagnostics.processIdentifier = app->processIdentifier;
    if (element) {
        diagnostics.role = m_accessibility->stringAttribute(element, AccessibilityStringAttribute::role);
        diagnostics.subrole = m_accessibility->stringAttribute(element, AccessibilityStringAttribute::subrole);
        diagnostics.title = m_accessibility->stringAttribute(element, AccessibilityStringAttribute::title);
        diagnostics.canSetValue = isSettable(element, AccessibilitySettableAttribute::value);
        diagnostics.canSetSelectedText = isSettable(element, AccessibilitySettableAttribute::selectedText);
        diagnostics.canSetSelectedTextRange = isSettable(element, AccessibilitySettableAttribute::selectedTextRange);
    }
    diagnostics.supportsUnicodeTypingFallback = m_accessibility->isTrusted();
    return diagnostics;
}

AccessibilityElement FocusedAppDiagnosticsService::currentFocusedElement() const
{
    return m_accessibility->focusedElement();
}

AccessibilityElement FocusedAppDiagnosticsService::window(const AccessibilityElement& element) const
{
    return element ? m_accessibility->window(element) : nullptr;
}

std::optional<QString> FocusedAppDiagnosticsService::role(const AccessibilityElement& element) const
{
    if (!element)
        return std::nullopt;
    return m_accessibility->stringAttribute(element, AccessibilityStringAttribute::role);
}

std::optional<QString> FocusedAppDiagnosticsService::title(const AccessibilityElement& element) const
{
    if (!element)
        return std::nullopt;
    return m_accessibility->stringAttribute(element, AccessibilityStringAttribute::title);
}

bool FocusedAppDiagnosticsService::isTextInputElement(const AccessibilityElement& element) const
{
    if (!element)
        return false;
    return isSettable(element, AccessibilitySettableAttribute::value)
        || isSettable(element, AccessibilitySettableAttribute::selectedText)
        || isSettable(element, AccessibilitySettableAttribute::selectedTextRange);
}

bool FocusedAppDiagnosticsService::sameElement(const AccessibilityElement& a, const AccessibilityElement& b)
{
    return a && b && a->identity() == b->identity();
}

bool FocusedAppDiagnosticsService::isSettable(
    const AccessibilityElement& element, AccessibilitySettableAttribute attribute) const
{
    return m_accessibility->isSettable(element, attribute).value_or(false);
}

} // namespace tessvale
