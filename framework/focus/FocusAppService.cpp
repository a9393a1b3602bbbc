#include "focus/FocusAppService.h"

#include "system/Logging.h"

namespace tessvale {

std::optional<FocusedApplicationTarget> FocusAppService::currentApplicationTarget(
    const FocusedAppDiagnosticsService& diagnosticsService)
{
    const auto app = diagnosticsService.windowSystem().frontmostApplication();
    if (!app)
        return std::nullopt;
    return FocusedApplicationTarget { app->name.isEmpty() ? QStringLiteral("Unknown App") : app->name,
        app->processIdentifier };
}

std::optional<QString> FocusAppService::currentApplicationName(const FocusedAppDiagnosticsService& diagnosticsService)
{
    const auto target = currentApplicationTarget(diagnosticsService);
    if (!target)
        return std::nullopt;
    return target->name;
}

FocusedInsertionTargetRef FocusAppService::currentInsertionTarget(
    const FocusedAppDiagnosticsService& diagnosticsService)
{
    auto application = currentApplicationTarget(diagnosticsService);
    if (!application)
        return nullptr;
    // The element is read separately from the application, as the desktop reports it.
    AccessibilityElement element = diagnosticsService.currentFocusedElement();
    if (!element)
        return std::make_shared<const FocusedInsertionTarget>(
            std::move(*application), nullptr, nullptr, std::nullopt, std::nullopt, false);
    auto target = std::make_shared<const FocusedInsertionTarget>(std::move(*application), element,
        diagnosticsService.window(element), diagnosticsService.role(element), diagnosticsService.title(element),
        diagnosticsService.isTextInputElement(element));
    qCDebug(lcFocus).noquote() << "captured" << target->summary();
    return target;
}

} // namespace tessvale
