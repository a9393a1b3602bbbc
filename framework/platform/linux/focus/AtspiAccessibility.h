#pragma once

#include "platform/linux/BackendOnly.h"

#include <memory>
#include <optional>

#include "platform/focus/Accessibility.h"

namespace tessvale {

class EwmhWindowSystem;

// Elements of other applications through AT-SPI2. Switches the desktop's accessibility bus on when it
// is off. Every call is a synchronous D-Bus round trip to the answering application, bounded by a
// short time-out so a hung application cannot stall the main thread for long. Main thread only.
class AtspiAccessibility final : public Accessibility
{
public:
    AtspiAccessibility();
    ~AtspiAccessibility() override;

    bool isTrusted() override;
    AccessibilityElement focusedElement() override;
    AccessibilityElement window(const AccessibilityElement& element) override;
    std::optional<QString> stringAttribute(
        const AccessibilityElement& element, AccessibilityStringAttribute attribute) override;
    std::optional<bool> isSettable(
        const AccessibilityElement& element, AccessibilitySettableAttribute attribute) override;
    PlatformResult raiseWindow(const AccessibilityElement& window) override;
    PlatformResult setFocused(const AccessibilityElement& element) override;
    std::optional<AccessibleTextState> textState(const AccessibilityElement& element) override;
    PlatformResult replaceSelection(const AccessibilityElement& element, const QString& text) override;

    // Turns the accessibility bus on (org.a11y.Status IsEnabled) when it is off; true when it is on.
    static bool ensureAccessibilityBusEnabled();

private:
    bool ensureInitialized();

    bool m_initialized = false;
    // Tells which application to ask first for the focus.
    std::unique_ptr<EwmhWindowSystem> m_windows;
};

} // namespace tessvale
