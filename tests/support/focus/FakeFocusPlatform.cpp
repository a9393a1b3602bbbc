#include "support/focus/FakeFocusPlatform.h"

namespace tessvale::testing {

AccessibilityElement fakeElement(const QString& identity)
{
    return std::make_shared<const FakeNode>(identity);
}

PlatformResult FakeWindowSystem::requestActivation(qint32 processIdentifier)
{
    activationRequests << processIdentifier;
    const auto window = windows.find(processIdentifier);
    if (window == windows.end())
        return PlatformResult::failed(QStringLiteral("no window of process %1").arg(processIdentifier));
    if (activationBringsToFront)
        frontmost = window->second;
    return PlatformResult::ok();
}

AccessibilityElement FakeAccessibility::focusedElement()
{
    ++focusQueries;
    if (clock && answerDelay > Duration::zero())
        clock->advance(answerDelay);
    return answers ? focused : nullptr;
}

std::optional<KeyboardFocusWindow> FakeWindowSystem::keyboardFocusWindow()
{
    if (keyboardFocus)
        return *keyboardFocus;
    if (!frontmost)
        return std::nullopt;
    return KeyboardFocusWindow { frontmost->windowId, frontmost->processIdentifier };
}

AccessibilityElement FakeAccessibility::window(const AccessibilityElement& element)
{
    const auto found = windows.find(element->identity());
    return found == windows.end() ? nullptr : found->second;
}

std::optional<QString> FakeAccessibility::stringAttribute(
    const AccessibilityElement& element, AccessibilityStringAttribute attribute)
{
    const auto found = strings.find({ element->identity(), attribute });
    if (found == strings.end())
        return std::nullopt;
    return found->second;
}

std::optional<bool> FakeAccessibility::isSettable(
    const AccessibilityElement& element, AccessibilitySettableAttribute attribute)
{
    calls << QStringLiteral("settable:%1:%2").arg(element->identity()).arg(static_cast<int>(attribute));
    const auto found = settable.find({ element->identity(), attribute });
    return found == settable.end() ? std::optional<bool>(false) : found->second;
}

PlatformResult FakeAccessibility::raiseWindow(const AccessibilityElement& window)
{
    calls << QStringLiteral("raise:") + window->identity();
    return PlatformResult::ok();
}

PlatformResult FakeAccessibility::setFocused(const AccessibilityElement& element)
{
    calls << QStringLiteral("focus:") + element->identity();
    if (!focusFollowsRequests)
        return PlatformResult::failed(QStringLiteral("focus requests are ignored"));
    focused = element;
    return PlatformResult::ok();
}

std::optional<AccessibleTextState> FakeAccessibility::textState(const AccessibilityElement& element)
{
    const auto found = texts.find(element->identity());
    if (found == texts.end())
        return std::nullopt;
    return found->second;
}

PlatformResult FakeAccessibility::replaceSelection(const AccessibilityElement& element, const QString& text)
{
    calls << QStringLiteral("replace:") + element->identity();
    auto found = texts.find(element->identity());
    if (found == texts.end() || replaceBehaviour == ReplaceBehaviour::refuses)
        return PlatformResult::failed(QStringLiteral("the text cannot be edited"));
    if (replaceBehaviour == ReplaceBehaviour::reportsSuccessAndDoesNothing)
        return PlatformResult::ok();
    AccessibleTextState& state = found->second;
    const QString inserted = replaceBehaviour == ReplaceBehaviour::truncates ? text.left(text.size() / 2) : text;
    state.text = state.text.left(state.selectionStart) + inserted + state.text.mid(state.selectionEnd);
    state.selectionStart = state.selectionEnd = state.selectionStart + static_cast<int>(inserted.size());
    return PlatformResult::ok();
}

} // namespace tessvale::testing
