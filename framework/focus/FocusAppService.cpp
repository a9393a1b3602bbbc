#include "focus/FocusAppService.h"

#include "base/Logging.h"

namespace tessvale {

namespace {

FocusedApplicationTarget applicationTarget(const FrontmostApplication& app)
{
    return FocusedApplicationTarget { app.name.isEmpty() ? QStringLiteral("Unknown App") : app.name,
        app.processIdentifier };
}

} // namespace

std::optional<FocusedApplicationTarget> FocusAppService::currentApplicationTarget(
    const FocusedAppDiagnosticsService& diagnosticsService)
{
    const auto app = diagnosticsService.windowSystem().frontmostApplication();
    if (!app)
        return std::nullopt;
    return applicationTarget(*app);
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
    const auto app = diagnosticsService.windowSystem().frontmostApplication();
    if (!app)
        return nullptr;
    // The element is read separately from the application, as the desktop reports it.
    AccessibilityElement element = diagnosticsService.currentFocusedElement();
    if (!element)
        return std::make_shared<const FocusedInsertionTarget>(
            applicationTarget(*app), nullptr, nullptr, std::nullopt, std::nullopt, false, app->windowId);
    auto target = std::make_shared<const FocusedInsertionTarget>(applicationTarget(*app), element,
        diagnosticsService.window(element), diagnosticsService.role(element), diagnosticsService.title(element),
        diagnosticsService.isTextInputElement(element), app->windowId);
    qCDebug(lcFocus).noquote() << "captured" << target->summary();
    return target;
}

} // namespace tessvale
