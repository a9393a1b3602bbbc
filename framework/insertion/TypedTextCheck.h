#pragma once

#include <chrono>
#include <memory>
#include <optional>

#include <QString>

#include <qcoro/qcorotask.h>

#include "async/CancelToken.h"
#include "focus/FocusedAppDiagnosticsService.h"
#include "focus/FocusedInsertionTarget.h"

namespace tessvale {

class Sleeper;

// What the field itself shows of typed keys: its text, read through accessibility before the keys and
// after them. Only a change is looked for, as an application may correct what was typed.
class TypedTextCheck
{
public:
    // How long a field may take to show typed text: a browser updates its accessible text only once
    // the page has handled the keys, late on a busy machine.
    static constexpr std::chrono::milliseconds changeTimeout { 5000 };
    static constexpr std::chrono::milliseconds pollInterval { 50 };

    enum class Evidence {
        changed,
        // The field showed its text throughout, and it stayed as it was.
        unchanged,
        // Nothing can tell: no text field that shows its text, or typing that would leave it as it is.
        unknown,
    };

    // Reads the captured field's text before the keys go out.
    static TypedTextCheck before(std::shared_ptr<FocusedAppDiagnosticsService> diagnostics,
        const FocusedInsertionTarget* target, const QString& text);

    // Waits until the field's text changed, or the time is up.
    static QCoro::Task<Evidence> awaitChange(TypedTextCheck check, Sleeper* sleeper, CancelToken token);

private:
    std::shared_ptr<FocusedAppDiagnosticsService> m_diagnostics;
    AccessibilityElement m_element;
    std::optional<QString> m_before;
};

} // namespace tessvale
