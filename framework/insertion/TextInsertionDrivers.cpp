// The three insertion drivers of TextInsertionService and its default paste command.
#include "insertion/TextInsertionService.h"

#include "system/Logging.h"

namespace tessvale {

namespace {

QString boolText(bool value)
{
    return value ? QStringLiteral("true") : QStringLiteral("false");
}

} // namespace

QCoro::Task<> TextInsertionService::waitForModifierRelease(CancelToken token)
{
    // Keys sent now would reach a screen locker or an open menu instead of the target.
    if (const auto block = currentInputBlock(*m_sessionInput)) {
        qCWarning(lcTextInsertion).noquote() << "keys not sent:" << describe(*block);
        throw TextInsertionError(TextInsertionError::keyboardUnavailable);
    }
    // Held Ctrl or Alt would turn the pasted or typed text into shortcuts of the target.
    const MonotonicTime deadline = m_sleeper->now() + modifierReleaseTimeout;
    while (true) {
        const QStringList held = m_injector->heldModifiers();
        if (held.isEmpty())
            co_return;
        if (m_sleeper->now() >= deadline) {
            qCWarning(lcTextInsertion).noquote() << "modifier keys still held:" << held.join(QLatin1Char(','));
            throw TextInsertionError(TextInsertionError::modifierKeysHeld);
        }
        co_await m_sleeper->sleep(modifierPollInterval, token);
    }
}

QCoro::Task<> TextInsertionService::insertWithPasteboard(QString text, bool restoreClipboard, CancelToken token)
{
    co_await waitForModifierRelease(token);
    token.throwIfCancelled();

    const PasteboardSnapshot clipboardSnapshot
        = makePasteboardSnapshot(m_clipboard->items(ClipboardSelection::clipboard));
    const PasteboardSnapshot primarySnapshot = makePasteboardSnapshot(m_clipboard->items(ClipboardSelection::primary));
    qCInfo(lcTextInsertion).noquote() << QStringLiteral(
        "pasteboard write start restoreClipboard=%1 previousItemCount=%2 charCount=%3")
                                             .arg(boolText(restoreClipboard))
                                             .arg(clipboardSnapshot.size())
                                             .arg(characterCount(text));

    // Terminals paste PRIMARY on the paste key, most toolkits CLIPBOARD: offer the text on both.
    auto fetched = std::make_shared<bool>(false);
    m_clipboard->setFetchObserver([fetched](ClipboardSelection) { *fetched = true; });
    const bool written = m_clipboard->writeText(ClipboardSelection::clipboard, text)
        && m_clipboard->writeText(ClipboardSelection::primary, text);
    if (!written) {
        m_clipboard->setFetchObserver({});
        if (restoreClipboard)
            restoreSelections(clipboardSnapshot, primarySnapshot);
        throw TextInsertionError(TextInsertionError::unableToWritePasteboard);
    }
    qCInfo(lcTextInsertion) << "pasteboard populated with dictation text";

    // A cancelled insertion sends no key after its cancellation.
    if (token.isCancelled()) {
        m_clipboard->setFetchObserver({});
        if (restoreClipboard)
            restoreSelections(clipboardSnapshot, primarySnapshot);
        throw CancelledError();
    }
    try {
        m_hooks.pasteCommandEmitter();
    } catch (...) {
        m_clipboard->setFetchObserver({});
        if (restoreClipboard)
            restoreSelections(clipboardSnapshot, primarySnapshot);
        throw;
    }
    qCInfo(lcTextInsertion) << "pasteboard paste emitted";
    if (!restoreClipboard) {
        m_clipboard->setFetchObserver({});
        co_return;
    }
    // The paste is already on its way: restoring before the target fetched the text would paste the
    // user's own clipboard instead, so this wait ignores cancellation.
    const bool sawFetch = co_await waitForFetchOrCap(fetched, m_sleeper->now());
    m_clipboard->setFetchObserver({});
    if (!sawFetch)
        qCInfo(lcTextInsertion) << "pasteboard not fetched before the cap; restoring";
    restoreSelections(clipboardSnapshot, primarySnapshot);
    qCInfo(lcTextInsertion).noquote()
        << QStringLiteral("pasteboard restore completed restoredItemCount=%1").arg(clipboardSnapshot.size());
}

QCoro::Task<bool> TextInsertionService::waitForFetchOrCap(std::shared_ptr<bool> fetched, MonotonicTime pastedAt)
{
    constexpr std::chrono::milliseconds pollInterval { 20 };
    while (true) {
        const MonotonicTime elapsed = m_sleeper->now() - pastedAt;
        if (*fetched && elapsed >= pasteboardRestoreDelay)
            co_return true;
        if (elapsed >= pasteboardFetchCap)
            co_return false;
        try {
            co_await m_sleeper->sleep(std::min<Duration>(pollInterval, pasteboardFetchCap - elapsed));
        } catch (const CancelledError&) {
            co_return *fetched;
        }
    }
}

void TextInsertionService::restoreSelections(
    const PasteboardSnapshot& clipboardSnapshot, const PasteboardSnapshot& primarySnapshot)
{
    // Whatever the user copied since the paste stays: only our own text is replaced.
    for (auto [selection, snapshot] : { std::pair { ClipboardSelection::clipboard, &clipboardSnapshot },
             std::pair { ClipboardSelection::primary, &primarySnapshot } }) {
        if (m_clipboard->holdsOurText(selection))
            m_clipboard->restore(selection, restoreEntries(*snapshot));
        else
            qCInfo(lcTextInsertion) << "selection changed since the paste; left as it is"
                                    << static_cast<int>(selection);
    }
}

void TextInsertionService::emitCommandV()
{
    if (!m_injector->emitPasteShortcut())
        throw TextInsertionError(TextInsertionError::unableToEmitPaste);
    qCInfo(lcTextInsertion) << "command-v emitted";
}

void TextInsertionService::replaceSelectedText(const QString& text)
{
    const AccessibilityElement element = m_diagnosticsService->currentFocusedElement();
    if (!element)
        throw TextInsertionError(TextInsertionError::noFocusedElement);
    qCInfo(lcTextInsertion).noquote()
        << QStringLiteral("selectedText replace start charCount=%1").arg(characterCount(text));
    Accessibility& accessibility = m_diagnosticsService->accessibility();
    const std::optional<AccessibleTextState> before = accessibility.textState(element);
    if (!before || !accessibility.replaceSelection(element, text))
        throw TextInsertionError(TextInsertionError::unableToSetSelectedText);
    // Some toolkits report success and change nothing, or truncate: only the text read back counts.
    const QString expected = before->text.left(before->selectionStart) + text + before->text.mid(before->selectionEnd);
    const std::optional<AccessibleTextState> after = accessibility.textState(element);
    if (!after || after->text != expected) {
        qCWarning(lcTextInsertion) << "selectedText replace not confirmed by the element's text";
        qCDebug(lcTextInsertion) << "expected" << expected.size() << "UTF-16 units, read back"
                                 << (after ? after->text.size() : -1);
        throw TextInsertionError(TextInsertionError::unableToSetSelectedText);
    }
    qCInfo(lcTextInsertion) << "selectedText replace success";
}

QCoro::Task<> TextInsertionService::typeUnicodeText(QString text, CancelToken token)
{
    co_await waitForModifierRelease(token);
    token.throwIfCancelled();
    if (!m_injector->isAvailable())
        throw TextInsertionError(TextInsertionError::unableToTypeUnicode);
    qCInfo(lcTextInsertion).noquote() << QStringLiteral("unicode typing start charCount=%1").arg(characterCount(text));
    const TypingOutcome outcome = co_await m_injector->typeText(std::move(text), {}, token);
    if (outcome.status != TypingStatus::complete)
        throw TextInsertionError(TextInsertionError::unableToTypeUnicode);
    qCInfo(lcTextInsertion) << "unicode typing success";
}

} // namespace tessvale
