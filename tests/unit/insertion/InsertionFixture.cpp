#include "InsertionFixture.h"

#include "coordinator/CoordinatorHelpers.h"
#include "support/shortcuts/FakeSessionInputProbe.h"

namespace tessvale::testing {

QString InsertOutcome::errorText() const
{
    return localizedDescription(error);
}

std::optional<TextInsertionError::Case> InsertOutcome::errorCase() const
{
    if (!error)
        return std::nullopt;
    try {
        std::rethrow_exception(error);
    } catch (const TextInsertionError& e) {
        return e.errorCase();
    } catch (...) {
        return std::nullopt;
    }
}

bool InsertOutcome::cancelled() const
{
    if (!error)
        return false;
    try {
        std::rethrow_exception(error);
    } catch (const CancelledError&) {
        return true;
    } catch (...) {
        return false;
    }
}

void InsertionFixture::SetUp()
{
    windows = std::make_shared<FakeWindowSystem>();
    accessibility = std::make_shared<FakeAccessibility>();
    clipboard = std::make_shared<FakeClipboard>();
    injector = std::make_shared<RecordingInputInjector>();
    // A target that takes the paste; tests of one that does not clear this.
    injector->onPaste = [clipboard = clipboard] { clipboard->fetch(ClipboardSelection::clipboard); };
    // Typed keys land in the focused field, as in any text field that shows its text.
    injector->onTyped = [accessibility = accessibility](const QString& typed) {
        if (!accessibility->focused)
            return;
        const auto field = accessibility->texts.find(accessibility->focused->identity());
        if (field == accessibility->texts.end())
            return;
        AccessibleTextState& state = field->second;
        state.text = state.text.left(state.selectionStart) + typed + state.text.mid(state.selectionEnd);
        state.selectionStart = state.selectionEnd = state.selectionStart + static_cast<int>(typed.size());
    };
    sleeper = std::make_unique<ManualSleeper>();
    const FrontmostApplication target { QStringLiteral("Notes"), QStringLiteral("notes"), targetPid,
        QStringLiteral("Draft"), 7 };
    windows->frontmost = target;
    windows->windows[targetPid] = target;
    windows->running.insert(targetPid);
    m_diagnostics = std::make_shared<FocusedAppDiagnosticsService>(windows, accessibility);
}

TextInsertionService& InsertionFixture::service()
{
    if (!m_service)
        m_service = std::make_unique<TextInsertionService>(m_diagnostics, hooks,
            TextInsertionPlatform { clipboard, injector, sleeper.get(), std::make_shared<FakeSessionInputProbe>() });
    return *m_service;
}

std::shared_ptr<InsertOutcome> InsertionFixture::start(const QString& text, FocusedInsertionTargetRef target,
    bool restoreClipboard, bool preferDirectTyping, CancelToken token, bool appendTrailingSpace)
{
    auto outcome = std::make_shared<InsertOutcome>();
    captureTask<TextInsertionResult>(service().insert(text, appendTrailingSpace, restoreClipboard, preferDirectTyping,
                                         std::move(target), std::move(token)),
        outcome);
    return outcome;
}

void InsertionFixture::advance(Duration duration)
{
    QCoreApplication::processEvents();
    sleeper->advance(duration);
    QCoreApplication::processEvents();
}

void InsertionFixture::runUntilDone(const std::shared_ptr<InsertOutcome>& outcome, Duration limit)
{
    const Duration step = std::chrono::milliseconds(10);
    for (Duration elapsed { 0 }; !outcome->done && elapsed < limit; elapsed += step)
        advance(step);
    QCoreApplication::processEvents();
}

FocusedInsertionTargetRef InsertionFixture::textFieldTarget() const
{
    return std::make_shared<const FocusedInsertionTarget>(
        FocusedApplicationTarget { QStringLiteral("Notes"), targetPid }, fakeElement(QStringLiteral("field")),
        fakeElement(QStringLiteral("window")), QStringLiteral("AXTextField"), std::nullopt, true);
}

FocusedInsertionTargetRef InsertionFixture::applicationOnlyTarget() const
{
    return std::make_shared<const FocusedInsertionTarget>(
        FocusedApplicationTarget { QStringLiteral("Notes"), targetPid }, nullptr, nullptr, std::nullopt, std::nullopt,
        false);
}

void InsertionFixture::focusTargetField(const QString& text)
{
    accessibility->focused = fakeElement(QStringLiteral("field"));
    const int end = static_cast<int>(text.size());
    accessibility->texts[QStringLiteral("field")] = AccessibleTextState { text, end, end };
}

} // namespace tessvale::testing
