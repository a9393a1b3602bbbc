#pragma once

#include <memory>
#include <optional>

#include <QString>

#include "platform/focus/AccessibilityElement.h"

namespace tessvale {

struct FocusedApplicationTarget
{
    QString name;
    qint32 processIdentifier = 0;

    friend bool operator==(const FocusedApplicationTarget&, const FocusedApplicationTarget&) = default;
};

// The application, element and window that had focus when a dictation began. One immutable object per
// capture, shared by the coordinator, its pending retry and the insertion service; it keeps its element
// and window alive for its own lifetime.
class FocusedInsertionTarget
{
public:
    FocusedInsertionTarget(FocusedApplicationTarget application, AccessibilityElement focusedElement,
        AccessibilityElement focusedWindow, std::optional<QString> focusedElementRole,
        std::optional<QString> focusedElementTitle, bool requiresTextFocusRestore, quint64 windowId = 0);

    const FocusedApplicationTarget& application() const { return m_application; }
    const AccessibilityElement& focusedElement() const { return m_focusedElement; }
    const AccessibilityElement& focusedWindow() const { return m_focusedWindow; }
    const std::optional<QString>& focusedElementRole() const { return m_focusedElementRole; }
    const std::optional<QString>& focusedElementTitle() const { return m_focusedElementTitle; }
    bool requiresTextFocusRestore() const { return m_requiresTextFocusRestore; }
    // The window system's id of the window that was active (0 when unknown). Windows that carry no
    // process identifier all report process 0: only this tells them apart.
    quint64 windowId() const { return m_windowId; }

    // One diagnostic line for logs.
    QString summary() const;
    // A short description of the place for messages shown to the user.
    QString userFacingLocationSummary() const;

private:
    const FocusedApplicationTarget m_application;
    const AccessibilityElement m_focusedElement;
    const AccessibilityElement m_focusedWindow;
    const std::optional<QString> m_focusedElementRole;
    const std::optional<QString> m_focusedElementTitle;
    const bool m_requiresTextFocusRestore;
    const quint64 m_windowId;
};

using FocusedInsertionTargetRef = std::shared_ptr<const FocusedInsertionTarget>;

} // namespace tessvale
