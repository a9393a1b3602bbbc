#pragma once

#include <memory>
#include <optional>

#include <QString>

#include "focus/FocusedAppDiagnostics.h"
#include "platform/focus/Accessibility.h"
#include "platform/focus/WindowSystem.h"

namespace tessvale {

// Reads the frontmost application and its focused element afresh on every call; holds no state of its
// own beyond the platform it reads. Main thread only.
class FocusedAppDiagnosticsService
{
public:
    FocusedAppDiagnosticsService(
        std::shared_ptr<WindowSystem> windowSystem, std::shared_ptr<Accessibility> accessibility);

    std::optional<FocusedAppDiagnostics> current() const;

    AccessibilityElement currentFocusedElement() const;
    AccessibilityElement window(const AccessibilityElement& element) const;
    std::optional<QString> role(const AccessibilityElement& element) const;
    std::optional<QString> title(const AccessibilityElement& element) const;
    bool isTextInputElement(const AccessibilityElement& element) const;
    static bool sameElement(const AccessibilityElement& a, const AccessibilityElement& b);

    WindowSystem& windowSystem() const { return *m_windowSystem; }
    Accessibility& accessibility() const { return *m_accessibility; }

private:
    bool isSettable(const AccessibilityElement& element, AccessibilitySettableAttribute attribute) const;

    std::shared_ptr<WindowSystem> m_windowSystem;
    std::shared_ptr<Accessibility> m_accessibility;
};

} // namespace tessvale
