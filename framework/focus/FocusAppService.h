#pragma once

#include <optional>

#include <QString>

#include "focus/FocusedAppDiagnosticsService.h"
#include "focus/FocusedInsertionTarget.h"

namespace tessvale {

// Captures the frontmost application and its focused element. Nothing is cached: each call reads the
// desktop afresh through the diagnostics service's platform. Main thread only.
class FocusAppService
{
public:
    FocusAppService() = delete;

    static std::optional<FocusedApplicationTarget> currentApplicationTarget(
        const FocusedAppDiagnosticsService& diagnosticsService);
    static std::optional<QString> currentApplicationName(const FocusedAppDiagnosticsService& diagnosticsService);
    static FocusedInsertionTargetRef currentInsertionTarget(const FocusedAppDiagnosticsService& diagnosticsService);
};

} // namespace tessvale
