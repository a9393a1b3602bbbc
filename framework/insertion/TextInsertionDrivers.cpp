// The drivers: the paste (with the user's clipboard saved and put back), the accessibility
// interface's replacement of the selected text, and typing.
#include "insertion/TextInsertionService.h"

#include <QPointer>
#include <QStringList>

#include "base/Logging.h"
#include "insertion/TypedTextCheck.h"

namespace tessvale {

namespace {

// Typed, a tab moves the focus or indents, and Return submits a single-line field; only a field known
// to hold several lines takes Return as a line break.
bool typesAsWritten(const QString& text, const FocusedInsertionTarget* target)
{
    if (text.contains(QLatin1Char('\t')))
        return false;
    const bool lineBreak = text.contains(QLatin1Char('\n')) || text.contains(QLatin1Char('\r'));
    return !lineBreak || (target && target->focusedElementRole() == QStringLiteral("AXTextArea"));
}

// Reading a selection again because its owner changed while we read gives up after this many reads.
constexpr int maxSnapshotReads = 3;
constexpr std::chrono::milliseconds fetchPollInterval { 20 };

struct SavedSelections
{
    PasteboardSnapshot clipboard;
    PasteboardSnapshot primary;
    // Both read whole (a really empty selection is whole).
    bool complete = true;
};

QCoro::Task<SavedSelections> saveSelections(std::shared_ptr<Clipboard> clipboard)
{
    // A copy landing while we read would be overwritten by the restore with what it replaced: read
    // again until neither owner changed.
    SavedSelections saved;
    for (int read = 1;; ++read) {
        const quint64 clipboardOwner = clipboard->ownerChangeCount(ClipboardSelection::clipboard);
        const quint64 primaryOwner = clipboard->ownerChangeCount(ClipboardSelection::primary);
        QCoro::Task<ClipboardReading> readingClipboard = clipboard->read(ClipboardSelection::clipboard);
        const ClipboardReading clipboardReading = co_await std::move(readingClipboard);
        QCoro::Task<ClipboardReading> readingPrimary = clipboard->read(ClipboardSelection::primary);
        const ClipboardReading primaryReading = co_await std::move(readingPrimary);
        saved.clipboard = makePasteboardSnapshot(clipboardReading.items);
        saved.primary = makePasteboardSnapshot(primaryReading.items);
        saved.complete = clipboardReading.complete && primaryReading.complete;
        // Not read whole is not pasted over whatever the owners did meanwhile: no time for another read.
        if (!saved.complete)
            co_return saved;
        if (clipboard->ownerChangeCount(ClipboardSelection::clipboard) == clipboardOwner
            && clipboard->ownerChangeCount(ClipboardSelection::primary) == primaryOwner)
            co_return saved;
        if (read == maxSnapshotReads) {
            qCWarning(lcTextInsertion) << "selection owners kept changing while read; keeping the last reading";
            co_return saved;
        }
        qCInfo(lcTextInsertion) << "selection owner changed while read; reading again";
    }
}

void restoreSelections(Clipboard& clipboard, const SavedSelections& saved)
{
    // Whatever the user copied since the paste stays: only our own text is replaced.
    for (auto [selection, snapshot] : { std::pair { ClipboardSelection::clipboard, &saved.clipboard },
             std::pair { ClipboardSelection::primary, &saved.primary } }) {
        if (clipboard.holdsOurText(selection))
            clipboard.restore(selection, restoreEntries(*snapshot));
        else
            qCInfo(lcTextInsertion) << "selection changed since the paste; left as it is"
                                    << static_cast<int>(selection);
    }
}

bool holdsOurTextEverywhere(Clipboard& clipboard)
{
    return clipboard.holdsOurText(ClipboardSelection::clipboard) && clipboard.holdsOurText(ClipboardSelection::primary);
}

enum class PasteFetch {
    fetched,
    notFetched,
    // Both selections were taken over before anyone fetched our text.
    lost,
};

// Waits until the paste fetched the text and, when the clipboard is to come back, the restore delay
// passed; or until the cap.
QCoro::Task<PasteFetch> waitForFetch(std::shared_ptr<Clipboard> clipboard, Sleeper* sleeper,
    std::shared_ptr<bool> fetched, bool restoreClipboard, CancelToken token)
{
    const MonotonicTime pastedAt = sleeper->now();
    while (true) {
        const Duration elapsed = sleeper->now() - pastedAt;
        if (*fetched && (!restoreClipboard || elapsed >= TextInsertionService::pasteboardRestoreDelay))
            co_return PasteFetch::fetched;
        if (!*fetched && !clipboard->holdsOurText(ClipboardSelection::clipboard)
            && !clipboard->holdsOurText(ClipboardSelection::primary))
            co_return PasteFetch::lost;
        if (elapsed >= TextInsertionService::pasteboardFetchCap)
            co_return *fetched ? PasteFetch::fetched : PasteFetch::notFetched;
        QCoro::Task<> polling = sleeper->sleep(
            std::min<Duration>(fetchPollInterval, TextInsertionService::pasteboardFetchCap - elapsed), token);
        co_await std::move(polling);
    }
}

// Terminals paste PRIMARY on the paste key, most toolkits CLIPBOARD: the text goes on both.
PlatformResult offerOnBoth(Clipboard& clipboard, const QString& text)
{
    PlatformResult written = clipboard.writeText(ClipboardSelection::clipboard, text);
    if (written)
        written = clipboard.writeText(ClipboardSelection::primary, text);
    return written;
}

// Puts the user's clipboard back when asked to, unless the paste may still come; throws when the
// text did not arrive.
void finishPaste(Clipboard& clipboard, const SavedSelections& saved, PasteFetch fetch, bool restoreClipboard)
{
    // A copy made meanwhile is what the target pasted, if it pasted.
    const bool lostBeforeFetch = fetch != PasteFetch::fetched && !holdsOurTextEverywhere(clipboard);
    if (fetch == PasteFetch::notFetched && !lostBeforeFetch) {
        // The paste may still come: the user's own clipboard put back now would be pasted in its place.
        qCWarning(lcTextInsertion) << "pasteboard not fetched by the paste before the cap; transcript left on it";
        throw TextInsertionError(TextInsertionError::pasteNotTaken);
    }
    if (restoreClipboard) {
        restoreSelections(clipboard, saved);
        qCInfo(lcTextInsertion).noquote()
            << QStringLiteral("pasteboard restore completed restoredItemCount=%1").arg(saved.clipboard.size());
    }
    if (lostBeforeFetch) {
        qCWarning(lcTextInsertion) << "pasteboard taken over before the target fetched the text";
        throw TextInsertionError(TextInsertionError::transcriptNotDelivered);
    }
}

} // namespace

QCoro::Task<> TextInsertionService::waitForModifierRelease(CancelToken token)
{
    // Keys sent now would reach a screen locker or an open menu instead of the target.
    if (const auto block = currentInputBlock(*m_sessionInput)) {
        qCWarning(lcTextInsertion).noquote() << "keys not sent:" << describe(*block);
        throw TextInsertionError(TextInsertionError::keyboardUnavailable);
    }
    QPointer<TextInsertionService> self(this);
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
        QCoro::Task<> polling = m_sleeper->sleep(modifierPollInterval, token);
        co_await std::move(polling);
        if (!self)
            throw CancelledError();
    }
}

QCoro::Task<> TextInsertionService::insertWithPasteboard(QString text, bool restoreClipboard, CancelToken token)
{
    QPointer<TextInsertionService> self(this);
    token = bound(token);
    QCoro::Task<> releasing = waitForModifierRelease(token);
    co_await std::move(releasing);
    if (!self)
        throw CancelledError();
    token.throwIfCancelled();

    // The frame keeps what the restore needs: it runs even when the service is gone by then.
    const std::shared_ptr<Clipboard> clipboard = m_clipboard;
    Sleeper* const sleeper = m_sleeper;
    const CancelToken lifetime = m_lifetime.token();
    QCoro::Task<SavedSelections> saving = saveSelections(clipboard);
    const SavedSelections saved = co_await std::move(saving);
    if (!self)
        throw CancelledError();
    token.throwIfCancelled();
    if (restoreClipboard && !saved.complete) {
        // The restore would put back part of the user's clipboard, or nothing: the next driver
        // inserts the text without the clipboard.
        qCWarning(lcTextInsertion) << "clipboard not read whole in time; not pasting";
        throw TextInsertionError(TextInsertionError::clipboardUnreadable);
    }
    qCInfo(lcTextInsertion).noquote() << QStringLiteral(
        "pasteboard write start restoreClipboard=%1 previousItemCount=%2 charCount=%3")
                                             .arg(boolText(restoreClipboard))
                                             .arg(saved.clipboard.size())
                                             .arg(characterCount(text));

    // The paste is the focused application's request for text after the key, on whichever selection
    // its key reads; a clipboard manager copying what we offer, or the application looking at the new
    // owner's formats, is not.
    auto fetched = std::make_shared<bool>(false);
    clipboard->setFetchObserver([fetched](const ClipboardFetch& fetch) {
        if (fetch.text && fetch.byPasteTarget)
            *fetched = true;
    });
    if (const PlatformResult written = offerOnBoth(*clipboard, text); !written) {
        qCWarning(lcTextInsertion).noquote() << "pasteboard not written:" << written.reason();
        clipboard->setFetchObserver({});
        if (restoreClipboard)
            restoreSelections(*clipboard, saved);
        throw TextInsertionError(TextInsertionError::unableToWritePasteboard);
    }
    qCInfo(lcTextInsertion) << "pasteboard populated with dictation text";

    PasteFetch fetch = PasteFetch::fetched;
    try {
        // A cancelled insertion sends no key after its cancellation.
        token.throwIfCancelled();
        clipboard->notePasteKey();
        m_hooks.pasteCommandEmitter();
        qCInfo(lcTextInsertion) << "pasteboard paste emitted";
        // The paste is already on its way: restoring before the target fetched the text would paste
        // the user's own clipboard instead, so only the service going away cuts this wait short.
        QCoro::Task<PasteFetch> fetching = waitForFetch(clipboard, sleeper, fetched, restoreClipboard, lifetime);
        fetch = co_await std::move(fetching);
    } catch (...) {
        clipboard->setFetchObserver({});
        if (restoreClipboard)
            restoreSelections(*clipboard, saved);
        throw;
    }
    clipboard->setFetchObserver({});
    finishPaste(*clipboard, saved, fetch, restoreClipboard);
}

void TextInsertionService::emitCommandV()
{
    if (const PlatformResult emitted = m_injector->emitPasteShortcut(); !emitted) {
        qCWarning(lcTextInsertion).noquote() << "paste key not sent:" << emitted.reason();
        throw TextInsertionError(TextInsertionError::unableToEmitPaste);
    }
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
    if (!before)
        throw TextInsertionError(TextInsertionError::unableToSetSelectedText);
    if (const PlatformResult replaced = accessibility.replaceSelection(element, text); !replaced) {
        qCWarning(lcTextInsertion).noquote() << "selectedText replace refused:" << replaced.reason();
        throw TextInsertionError(TextInsertionError::unableToSetSelectedText);
    }
    // Some toolkits report success and change nothing, or truncate: only the text read back counts.
    const QString head = before->text.left(before->selectionStart);
    const QString expected = head + text + before->text.mid(before->selectionEnd);
    const std::optional<AccessibleTextState> after = accessibility.textState(element);
    if (after && after->text == expected) {
        qCInfo(lcTextInsertion) << "selectedText replace success";
        return;
    }
    qCDebug(lcTextInsertion) << "expected" << expected.size() << "UTF-16 units, read back"
                             << (after ? after->text.size() : -1);
    if (after && after->text == before->text) {
        // Unchanged: another driver may still try.
        qCWarning(lcTextInsertion) << "selectedText replace not confirmed by the element's text";
        throw TextInsertionError(TextInsertionError::unableToSetSelectedText);
    }
    // The field changed, but not into the text asked for, and the interface cannot select what to
    // take back: stop here rather than insert the text a second time.
    qsizetype inserted = 0;
    if (after && after->text.startsWith(head)) {
        const QString placed = after->text.mid(head.size());
        qsizetype same = 0;
        while (same < placed.size() && same < text.size() && placed[same] == text[same])
            ++same;
        inserted = characterCount(text.left(same));
    }
    const qsizetype total = characterCount(text);
    qCCritical(lcTextInsertion).noquote()
        << QStringLiteral("selectedText replace changed the field partly inserted=%1 of=%2").arg(inserted).arg(total);
    throw TextInsertionError::partlyInserted(inserted, total);
}

QCoro::Task<> TextInsertionService::typeUnicodeText(QString text, FocusedInsertionTargetRef target, CancelToken token)
{
    QPointer<TextInsertionService> self(this);
    token = bound(token);
    QCoro::Task<> releasing = waitForModifierRelease(token);
    co_await std::move(releasing);
    if (!self)
        throw CancelledError();
    token.throwIfCancelled();
    if (!m_injector->isAvailable())
        throw TextInsertionError(TextInsertionError::unableToTypeUnicode);
    if (!typesAsWritten(text, target.get())) {
        qCWarning(lcTextInsertion) << "text has a tab or a line break this field would take as a key; nothing typed";
        throw TextInsertionError(TextInsertionError::textNotTypeable);
    }
    qCInfo(lcTextInsertion).noquote() << QStringLiteral("unicode typing start charCount=%1").arg(characterCount(text));

    // Keys go to whatever has the focus: once it leaves the target, the rest must not follow it.
    std::function<bool()> stillOnTarget;
    const std::optional<qint32> pid = target ? std::optional<qint32>(target->application().processIdentifier)
                                             : m_hooks.currentFrontmostApplicationPID();
    if (pid) {
        const quint64 window = target ? target->windowId() : m_hooks.currentFrontmostWindowID();
        stillOnTarget = [self, pid = *pid, window] { return self && self->isFrontmost(pid, window); };
    }
    // Held here: the injector must outlive its typing even when the service goes away meanwhile.
    const std::shared_ptr<InputInjector> injector = m_injector;
    TypedTextCheck fieldText = TypedTextCheck::before(m_diagnosticsService, target.get(), text);
    QCoro::Task<TypingOutcome> typing = injector->typeText(text, std::move(stillOnTarget), token);
    const TypingOutcome outcome = co_await std::move(typing);
    if (!self)
        throw CancelledError();
    if (outcome.status == TypingStatus::complete) {
        // Every key went out; a field that shows its text tells whether they went in.
        QCoro::Task<TypedTextCheck::Evidence> shown
            = TypedTextCheck::awaitChange(std::move(fieldText), m_sleeper, token);
        const TypedTextCheck::Evidence evidence = co_await std::move(shown);
        if (!self)
            throw CancelledError();
        if (evidence == TypedTextCheck::Evidence::unchanged) {
            qCCritical(lcTextInsertion) << "unicode typing sent every key, but the field's text did not change";
            throw TextInsertionError(TextInsertionError::typingNotConfirmed);
        }
        qCInfo(lcTextInsertion) << "unicode typing success";
        co_return;
    }
    if (outcome.status == TypingStatus::unconfirmed) {
        qCCritical(lcTextInsertion) << "unicode typing sent every key, but the target did not confirm reading them";
        throw TextInsertionError(TextInsertionError::typingNotConfirmed);
    }
    const bool focusMoved = outcome.status == TypingStatus::focusMoved;
    if (outcome.sentCharacters == 0) {
        if (focusMoved) {
            qCWarning(lcTextInsertion) << "focus left the target before typing began";
            throw TextInsertionError(TextInsertionError::unableToRestoreFocus);
        }
        throw TextInsertionError(TextInsertionError::unableToTypeUnicode);
    }
    const qsizetype typed = characterCountOfPrefix(text, outcome.typedCharacters);
    const qsizetype total = characterCount(text);
    qCCritical(lcTextInsertion).noquote()
        << QStringLiteral("unicode typing stopped typed=%1 of=%2 reason=%3")
               .arg(typed)
               .arg(total)
               .arg(focusMoved ? QStringLiteral("focusMoved") : QStringLiteral("failed"));
    throw TextInsertionError::partlyInserted(typed, total);
}

} // namespace tessvale
