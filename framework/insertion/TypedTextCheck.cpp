#include "insertion/TypedTextCheck.h"

#include "async/Sleeper.h"
#include "base/Logging.h"

namespace tessvale {

namespace {

// Text fields and areas, but for a terminal, which shows what its program writes: a password prompt
// or a program that reads keys without echo takes typed text and shows none of it.
bool showsWhatIsTyped(Accessibility& accessibility, const FocusedInsertionTarget& target)
{
    const std::optional<QString>& role = target.focusedElementRole();
    if (!target.focusedElement() || !target.requiresTextFocusRestore()
        || (role != QStringLiteral("AXTextField") && role != QStringLiteral("AXTextArea")))
        return false;
    return accessibility.stringAttribute(target.focusedElement(), AccessibilityStringAttribute::subrole)
        != QStringLiteral("AXTerminal");
}

} // namespace

TypedTextCheck TypedTextCheck::before(std::shared_ptr<FocusedAppDiagnosticsService> diagnostics,
    const FocusedInsertionTarget* target, const QString& text)
{
    TypedTextCheck check;
    if (!target || text.isEmpty() || !showsWhatIsTyped(diagnostics->accessibility(), *target))
        return check;
    const std::optional<AccessibleTextState> state = diagnostics->accessibility().textState(target->focusedElement());
    // Typing over a selection of the very same text changes nothing.
    if (!state || state->text.left(state->selectionStart) + text + state->text.mid(state->selectionEnd) == state->text)
        return check;
    check.m_diagnostics = std::move(diagnostics);
    check.m_element = target->focusedElement();
    check.m_before = state->text;
    return check;
}

QCoro::Task<TypedTextCheck::Evidence> TypedTextCheck::awaitChange(
    TypedTextCheck check, Sleeper* sleeper, CancelToken token)
{
    if (!check.m_before)
        co_return Evidence::unknown;
    Accessibility& accessibility = check.m_diagnostics->accessibility();
    const MonotonicTime deadline = sleeper->now() + changeTimeout;
    bool read = false;
    while (true) {
        const std::optional<AccessibleTextState> now = accessibility.textState(check.m_element);
        if (now && now->text != *check.m_before)
            co_return Evidence::changed;
        read = read || now.has_value();
        if (sleeper->now() >= deadline) {
            if (!read)
                qCInfo(lcTextInsertion) << "the field's text could not be read back after typing";
            co_return read ? Evidence::unchanged : Evidence::unknown;
        }
        QCoro::Task<> pause = sleeper->sleep(pollInterval, token);
        co_await pause;
    }
}

} // namespace tessvale
