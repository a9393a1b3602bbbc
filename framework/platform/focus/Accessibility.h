#pragma once

#include <optional>

#include <QString>

#include "platform/PlatformResult.h"
#include "platform/focus/AccessibilityElement.h"

namespace tessvale {

enum class AccessibilityStringAttribute {
    role,
    subrole,
    title,
};

enum class AccessibilitySettableAttribute {
    value,
    selectedText,
    selectedTextRange,
};

// An element's text and selection, in UTF-16 positions of text.
struct AccessibleTextState
{
    QString text;
    int selectionStart = 0;
    int selectionEnd = 0;
};

// Elements, roles, titles, settable attributes and focus of other applications. Calls wait for the
// answering application; an unreadable attribute gives no value and a failed query counts as false.
class Accessibility
{
public:
    virtual ~Accessibility() = default;

    // Whether typed key events and element access can be used at all.
    virtual bool isTrusted() = 0;

    virtual AccessibilityElement focusedElement() = 0;
    virtual AccessibilityElement window(const AccessibilityElement& element) = 0;
    virtual std::optional<QString> stringAttribute(
        const AccessibilityElement& element, AccessibilityStringAttribute attribute)
        = 0;
    // Returns nullopt when the query itself fails.
    virtual std::optional<bool> isSettable(
        const AccessibilityElement& element, AccessibilitySettableAttribute attribute)
        = 0;

    // Window raise and main-window request; results are advisory.
    virtual PlatformResult raiseWindow(const AccessibilityElement& window) = 0;
    virtual PlatformResult setFocused(const AccessibilityElement& element) = 0;

    virtual std::optional<AccessibleTextState> textState(const AccessibilityElement& element) = 0;
    // Replaces the element's selection (or inserts at the caret) with text; fails when refused.
    virtual PlatformResult replaceSelection(const AccessibilityElement& element, const QString& text) = 0;
};

} // namespace tessvale
