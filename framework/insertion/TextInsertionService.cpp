#include "insertion/TextInsertionService.h"

#include <QPointer>
#include <QStringList>

#include "base/Logging.h"

namespace tessvale {

namespace {

const QString unknownTarget = QStringLiteral("unknown target");

// A browser's page: its fields' focus is reported on elements inside it, or on the page itself.
bool isDocument(const FocusedInsertionTarget& target)
{
    return target.focusedElementRole() == QStringLiteral("AXWebArea");
}

// Controls that take no text: typed keys would toggle, press or pick them, or fire the page's
// single-key shortcuts.
bool isNonTextControl(const std::optional<QString>& role)
{
    static const QStringList roles { QStringLiteral("AXCheckBox"), QStringLiteral("AXRadioButton"),
        QStringLiteral("AXButton"), QStringLiteral("AXMenuItem") };
    return role && roles.contains(*role);
}

// Typed, a tab moves the focus or indents, and Return submits a single-line field; only a field known
// to hold several lines takes Return as a line break.
bool typesAsWritten(const QString& text, const FocusedInsertionTarget* target)
{
    if (text.contains(QLatin1Char('\t')))
        return false;
    const bool lineBreak = text.contains(QLatin1Char('\n')) || text.contains(QLatin1Char('\r'));
    return !lineBreak || (target && target->focusedElementRole() == QStringLiteral("AXTextArea"));
}

} // namespace

TextInsertionService::TextInsertionService(std::shared_ptr<FocusedAppDiagnosticsService> diagnosticsService,
    TextInsertionHooks hooks, TextInsertionPlatform platform, QObject* parent)
    : QObject(parent)
    , m_diagnosticsService(std::move(diagnosticsService))
    , m_hooks(std::move(hooks))
    , m_clipboard(std::move(platform.clipboard))
    , m_injector(std::move(platform.injector))
    , m_sessionInput(std::move(platform.sessionInput))
    , m_sleeper(platform.sleeper ? platform.sleeper : &Sleeper::system())
    , m_queue(this)
{
    if (!m_hooks.accessibilityTrusted)
        m_hooks.accessibilityTrusted = [this] { return m_diagnosticsService->accessibility().isTrusted(); };
    if (!m_hooks.appActivator)
        m_hooks.appActivator = [this](qint32 pid, CancelToken token) { return activateApplication(pid, token); };
    if (!m_hooks.targetRestorer)
        m_hooks.targetRestorer = [this](FocusedInsertionTargetRef target, CancelToken token) {
            return restoreTextFocus(std::move(target), token);
        };
    if (!m_hooks.currentFrontmostApplicationPID) {
        m_hooks.currentFrontmostApplicationPID = [this]() -> std::optional<qint32> {
            const auto app = m_diagnosticsService->windowSystem().frontmostApplication();
            return app ? std::optional<qint32>(app->processIdentifier) : std::nullopt;
        };
    }
    if (!m_hooks.currentFrontmostWindowID) {
        m_hooks.currentFrontmostWindowID = [this]() -> quint64 {
            const auto app = m_diagnosticsService->windowSystem().frontmostApplication();
            return app ? app->windowId : 0;
        };
    }
    if (!m_hooks.currentKeyboardFocusWindow)
        m_hooks.currentKeyboardFocusWindow
            = [this] { return m_diagnosticsService->windowSystem().keyboardFocusWindow(); };
    if (!m_hooks.currentFocusedElementProvider)
        m_hooks.currentFocusedElementProvider = [this] { return m_diagnosticsService->currentFocusedElement(); };
    if (!m_hooks.targetReadinessWaiter)
        m_hooks.targetReadinessWaiter = [this](FocusedInsertionTargetRef target, CancelToken token) {
            return waitUntilTargetReady(std::move(target), token);
        };
    if (!m_hooks.pasteCommandEmitter)
        m_hooks.pasteCommandEmitter = [this] { emitCommandV(); };
}

TextInsertionService::~TextInsertionService()
{
    // Pending waits end soon; each coroutine sees the service gone when it resumes.
    m_lifetime.cancel();
}

CancelToken TextInsertionService::bound(const CancelToken& token) const
{
    return token.combinedWith(m_lifetime.token());
}

QList<TextInsertionDriver> TextInsertionService::driverOrder(
    const std::optional<QList<TextInsertionDriver>>& enabledDrivers, bool preferDirectTyping)
{
    if (enabledDrivers)
        return *enabledDrivers;
    if (preferDirectTyping)
        return { TextInsertionDriver::selectedText, TextInsertionDriver::unicodeTyping,
            TextInsertionDriver::pasteboard };
    return { TextInsertionDriver::pasteboard, TextInsertionDriver::selectedText, TextInsertionDriver::unicodeTyping };
}

QCoro::Task<TextInsertionResult> TextInsertionService::insert(QString text, bool appendTrailingSpace,
    bool restoreClipboard, bool preferDirectTyping, FocusedInsertionTargetRef targetInsertion, CancelToken token)
{
    if (!m_hooks.accessibilityTrusted())
        throw TextInsertionError(TextInsertionError::missingAccessibilityPermission);
    if (appendTrailingSpace)
        text += QLatin1Char(' ');
    QPointer<TextInsertionService> self(this);
    token = bound(token);
    // One insertion at a time: two pastes racing over the clipboard would lose the user's data.
    InsertionQueue::Turn turn = co_await m_queue.enter(token);
    if (!self)
        throw CancelledError();
    TextInsertionResult result = co_await insertInTurn(
        std::move(text), restoreClipboard, preferDirectTyping, std::move(targetInsertion), token);
    co_return result;
}

QCoro::Task<TextInsertionResult> TextInsertionService::insertInTurn(
    QString text, bool restoreClipboard, bool preferDirectTyping, FocusedInsertionTargetRef target, CancelToken token)
{
    QPointer<TextInsertionService> self(this);
    if (target && isNonTextControl(target->focusedElementRole())) {
        qCWarning(lcTextInsertion).noquote()
            << "captured element takes no text; nothing inserted target=" << target->summary();
        throw TextInsertionError(TextInsertionError::noTextFieldFocused);
    }
    if (target) {
        co_await prepareTarget(target, token);
        if (!self)
            throw CancelledError();
    }
    token.throwIfCancelled();
    const std::optional<FocusedAppDiagnostics> diagnostics = m_diagnosticsService->current();
    const QString label = diagnostics ? diagnostics->summary() : unknownTarget;
    const QList<TextInsertionDriver> drivers = driverOrder(m_hooks.enabledDrivers, preferDirectTyping);
    QStringList strategies;
    for (auto driver : drivers)
        strategies << rawValue(driver);
    const qsizetype count = characterCount(text);
    qCInfo(lcTextInsertion).noquote() << QStringLiteral("insert start target=%1 strategies=%2 charCount=%3")
                                             .arg(label, strategies.join(QLatin1Char(',')))
                                             .arg(count);

    QStringList failures;
    QList<TextInsertionError::Case> failureCases;
    for (auto driver : drivers) {
        token.throwIfCancelled();
        // Focus may have moved while an earlier driver worked: never put text into another window.
        if (target && !isFrontmost(*target)) {
            qCWarning(lcTextInsertion).noquote()
                << "target no longer frontmost before driver" << rawValue(driver) << "target=" << target->summary();
            throw TextInsertionError(TextInsertionError::unableToRestoreFocus);
        }
        qCInfo(lcTextInsertion).noquote() << QStringLiteral("insert attempt driver=%1 target=%2 charCount=%3")
                                                 .arg(rawValue(driver), label)
                                                 .arg(count);
        QString failure;
        try {
            co_await runDriver(driver, text, restoreClipboard, target, token);
            qCInfo(lcTextInsertion).noquote() << QStringLiteral("insert success driver=%1 target=%2 charCount=%3")
                                                     .arg(rawValue(driver), label)
                                                     .arg(count);
            co_return TextInsertionResult { driver, diagnostics };
        } catch (const TextInsertionError& error) {
            if (error.mayHaveChangedTarget() || error == TextInsertionError::unableToRestoreFocus) {
                qCCritical(lcTextInsertion).noquote()
                    << QStringLiteral("insert stopped driver=%1 target=%2 error=%3")
                           .arg(rawValue(driver), label, error.localizedDescription());
                throw;
            }
            failure = error.localizedDescription();
            failureCases << error.errorCase();
        } catch (const CancelledError&) {
            throw;
        } catch (const std::exception& error) {
            failure = QString::fromUtf8(error.what());
        }
        if (!self)
            throw CancelledError();
        qCCritical(lcTextInsertion).noquote()
            << QStringLiteral("insert failure driver=%1 target=%2 error=%3").arg(rawValue(driver), label, failure);
        failures << rawValue(driver) + QStringLiteral(": ") + failure;
    }
    throw TextInsertionServiceError(failures, failureCases);
}

QCoro::Task<> TextInsertionService::prepareTarget(FocusedInsertionTargetRef target, CancelToken token)
{
    QPointer<TextInsertionService> self(this);
    const qint32 pid = target->application().processIdentifier;
    const bool activated = co_await m_hooks.appActivator(pid, token);
    if (!self)
        throw CancelledError();
    token.throwIfCancelled();
    qCInfo(lcTextInsertion).noquote()
        << QStringLiteral("target app activation pid=%1 activated=%2").arg(pid).arg(boolText(activated));

    const bool restored = co_await m_hooks.targetRestorer(target, token);
    if (!self)
        throw CancelledError();
    token.throwIfCancelled();
    qCInfo(lcTextInsertion).noquote()
        << QStringLiteral("target field restore target=%1 restored=%2").arg(target->summary(), boolText(restored));
    if (target->requiresTextFocusRestore() && !restored)
        throw TextInsertionError(TextInsertionError::unableToRestoreFocus);

    const bool ready = co_await m_hooks.targetReadinessWaiter(target, token);
    if (!self)
        throw CancelledError();
    token.throwIfCancelled();
    qCInfo(lcTextInsertion).noquote()
        << QStringLiteral("target readiness target=%1 ready=%2").arg(target->summary(), boolText(ready));
    // Also for targets without a text field: when the application never came to the front, the keys
    // and the paste would land in whatever window has focus now.
    if (!ready) {
        const auto current = m_diagnosticsService->current();
        qCCritical(lcTextInsertion).noquote()
            << QStringLiteral("target readiness failed expected=%1 current=%2")
                   .arg(target->summary(), current ? current->detailedSummary() : unknownTarget);
        throw TextInsertionError(TextInsertionError::unableToRestoreFocus);
    }
}

QCoro::Task<> TextInsertionService::runDriver(TextInsertionDriver driver, QString text, bool restoreClipboard,
    FocusedInsertionTargetRef target, CancelToken token)
{
    switch (driver) {
    case TextInsertionDriver::pasteboard:
        co_await insertWithPasteboard(std::move(text), restoreClipboard, token);
        break;
    case TextInsertionDriver::selectedText:
        replaceSelectedText(text);
        break;
    case TextInsertionDriver::unicodeTyping:
        co_await typeUnicodeText(std::move(text), std::move(target), token);
        break;
    }
}

bool TextInsertionService::isFrontmost(qint32 processIdentifier, quint64 windowId) const
{
    if (m_hooks.currentFrontmostApplicationPID() != processIdentifier)
        return false;
    // Windows without a process identifier all report 0: only the window tells them apart.
    const quint64 active = m_hooks.currentFrontmostWindowID();
    if (windowId != 0 ? active != windowId : processIdentifier == 0)
        return false;
    // Keys go to the X input focus, which moves before the window manager announces the move.
    const std::optional<KeyboardFocusWindow> keys = m_hooks.currentKeyboardFocusWindow();
    return keys && keys->windowId == (windowId != 0 ? windowId : active);
}

bool TextInsertionService::isFrontmost(const FocusedInsertionTarget& target) const
{
    return isFrontmost(target.application().processIdentifier, target.windowId());
}

QCoro::Task<bool> TextInsertionService::activateApplication(qint32 processIdentifier, CancelToken token)
{
    QPointer<TextInsertionService> self(this);
    token = bound(token);
    WindowSystem& windows = m_diagnosticsService->windowSystem();
    if (!windows.isRunning(processIdentifier))
        co_return false;
    const auto frontmost = windows.frontmostApplication();
    if (frontmost && frontmost->processIdentifier == processIdentifier)
        co_return true;
    if (!windows.requestActivation(processIdentifier))
        co_return false;
    try {
        co_await m_sleeper->sleep(activationSettleDelay, token);
    } catch (const CancelledError&) {
    }
    if (!self)
        throw CancelledError();
    token.throwIfCancelled();
    co_return true;
}

QCoro::Task<bool> TextInsertionService::restoreTextFocus(FocusedInsertionTargetRef target, CancelToken token)
{
    QPointer<TextInsertionService> self(this);
    token = bound(token);
    if (!target->requiresTextFocusRestore())
        co_return true;
    if (!target->focusedElement())
        co_return false;
    const bool document = isDocument(*target);
    // Focusing the page itself would take the focus from the field in it.
    if (document && isFrontmost(*target))
        co_return true;
    if (!document
        && FocusedAppDiagnosticsService::sameElement(
            m_diagnosticsService->currentFocusedElement(), target->focusedElement()))
        co_return true;
    Accessibility& accessibility = m_diagnosticsService->accessibility();
    if (target->focusedWindow())
        accessibility.raiseWindow(target->focusedWindow());
    if (!document)
        accessibility.setFocused(target->focusedElement());
    try {
        co_await m_sleeper->sleep(focusRestoreSettleDelay, token);
    } catch (const CancelledError&) {
    }
    if (!self)
        throw CancelledError();
    token.throwIfCancelled();
    if (document)
        co_return isFrontmost(*target);
    const MonotonicTime asked = m_sleeper->now();
    const AccessibilityElement focused = m_diagnosticsService->currentFocusedElement();
    // A busy application that gives no answer in time has not said the focus is elsewhere: its window
    // decides.
    if (!focused && m_sleeper->now() - asked >= readinessPollInterval)
        co_return isFrontmost(*target);
    co_return FocusedAppDiagnosticsService::sameElement(focused, target->focusedElement());
}

QCoro::Task<bool> TextInsertionService::waitUntilTargetReady(FocusedInsertionTargetRef target, CancelToken token)
{
    QPointer<TextInsertionService> self(this);
    token = bound(token);
    enum class Reading {
        ready,
        notReady,
        // The window is right, but the application gave no focused element.
        unanswered,
    };
    const MonotonicTime start = m_sleeper->now();
    MonotonicTime deadline = start + readinessTimeout;
    const MonotonicTime limit = start + readinessSlowAnswerLimit;
    // A browser's document holds the focus of every field in it: the window decides.
    const bool checksElement = target->requiresTextFocusRestore() && !isDocument(*target);
    bool answersWereSlow = false;
    Reading previous = Reading::notReady;
    Reading reading = Reading::notReady;
    while (m_sleeper->now() < deadline) {
        reading = isFrontmost(*target) ? Reading::ready : Reading::notReady;
        if (reading == Reading::ready && checksElement) {
            const MonotonicTime asked = m_sleeper->now();
            const AccessibilityElement focused
                = target->focusedElement() ? m_hooks.currentFocusedElementProvider() : nullptr;
            const Duration answerTime = m_sleeper->now() - asked;
            if (target->focusedElement() && answerTime >= readinessPollInterval)
                answersWereSlow = true;
            deadline = std::min(limit, deadline + answerTime);
            if (!focused)
                reading = Reading::unanswered;
            else if (!FocusedAppDiagnosticsService::sameElement(focused, target->focusedElement()))
                reading = Reading::notReady;
        }
        if (reading == Reading::ready && previous == Reading::ready)
            co_return true;
        previous = reading;
        try {
            co_await m_sleeper->sleep(readinessPollInterval, token);
        } catch (const CancelledError&) {
        }
        if (!self)
            throw CancelledError();
        token.throwIfCancelled();
    }
    // A busy application may use up the wait with one or two answers: then its window with no other
    // element reported decides.
    if (answersWereSlow && reading != Reading::notReady) {
        qCInfo(lcTextInsertion) << "accessibility answers slow; the target's window decides readiness";
        co_return true;
    }
    co_return false;
}

// ---- the three drivers and the default paste command

namespace {

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

SavedSelections saveSelections(Clipboard& clipboard)
{
    // A copy landing while we read would be overwritten by the restore with what it replaced: read
    // again until neither owner changed.
    SavedSelections saved;
    for (int read = 1;; ++read) {
        const quint64 clipboardOwner = clipboard.ownerChangeCount(ClipboardSelection::clipboard);
        const quint64 primaryOwner = clipboard.ownerChangeCount(ClipboardSelection::primary);
        const ClipboardReading clipboardReading = clipboard.read(ClipboardSelection::clipboard);
        const ClipboardReading primaryReading = clipboard.read(ClipboardSelection::primary);
        saved.clipboard = makePasteboardSnapshot(clipboardReading.items);
        saved.primary = makePasteboardSnapshot(primaryReading.items);
        saved.complete = clipboardReading.complete && primaryReading.complete;
        // Not read whole is not pasted over whatever the owners did meanwhile: no time for another read.
        if (!saved.complete)
            return saved;
        if (clipboard.ownerChangeCount(ClipboardSelection::clipboard) == clipboardOwner
            && clipboard.ownerChangeCount(ClipboardSelection::primary) == primaryOwner)
            return saved;
        if (read == maxSnapshotReads) {
            qCWarning(lcTextInsertion) << "selection owners kept changing while read; keeping the last reading";
            return saved;
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
        co_await sleeper->sleep(
            std::min<Duration>(fetchPollInterval, TextInsertionService::pasteboardFetchCap - elapsed), token);
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
        co_await m_sleeper->sleep(modifierPollInterval, token);
        if (!self)
            throw CancelledError();
    }
}

QCoro::Task<> TextInsertionService::insertWithPasteboard(QString text, bool restoreClipboard, CancelToken token)
{
    QPointer<TextInsertionService> self(this);
    token = bound(token);
    co_await waitForModifierRelease(token);
    if (!self)
        throw CancelledError();
    token.throwIfCancelled();

    // The frame keeps what the restore needs: it runs even when the service is gone by then.
    const std::shared_ptr<Clipboard> clipboard = m_clipboard;
    Sleeper* const sleeper = m_sleeper;
    const CancelToken lifetime = m_lifetime.token();
    const SavedSelections saved = saveSelections(*clipboard);
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

    // Terminals paste PRIMARY on the paste key, most toolkits CLIPBOARD: offer the text on both. The
    // paste is the focused application's request for text after the key, on whichever of the two its
    // key reads; a clipboard manager copying what we offer, or the application looking at the new
    // owner's formats, is not.
    auto fetched = std::make_shared<bool>(false);
    clipboard->setFetchObserver([fetched](const ClipboardFetch& fetch) {
        if (fetch.text && fetch.byPasteTarget)
            *fetched = true;
    });
    const bool written = clipboard->writeText(ClipboardSelection::clipboard, text)
        && clipboard->writeText(ClipboardSelection::primary, text);
    if (!written) {
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
        fetch = co_await waitForFetch(clipboard, sleeper, fetched, restoreClipboard, lifetime);
    } catch (...) {
        clipboard->setFetchObserver({});
        if (restoreClipboard)
            restoreSelections(*clipboard, saved);
        throw;
    }
    clipboard->setFetchObserver({});
    // A copy made meanwhile is what the target pasted, if it pasted.
    const bool lostBeforeFetch = fetch != PasteFetch::fetched && !holdsOurTextEverywhere(*clipboard);
    if (fetch == PasteFetch::notFetched && !lostBeforeFetch) {
        // The paste may still come: the user's own clipboard put back now would be pasted in its place.
        qCWarning(lcTextInsertion) << "pasteboard not fetched by the paste before the cap; transcript left on it";
        throw TextInsertionError(TextInsertionError::pasteNotTaken);
    }
    if (restoreClipboard) {
        restoreSelections(*clipboard, saved);
        qCInfo(lcTextInsertion).noquote()
            << QStringLiteral("pasteboard restore completed restoredItemCount=%1").arg(saved.clipboard.size());
    }
    if (lostBeforeFetch) {
        qCWarning(lcTextInsertion) << "pasteboard taken over before the target fetched the text";
        throw TextInsertionError(TextInsertionError::transcriptNotDelivered);
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
    co_await waitForModifierRelease(token);
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
    const TypingOutcome outcome = co_await injector->typeText(text, std::move(stillOnTarget), token);
    if (!self)
        throw CancelledError();
    if (outcome.status == TypingStatus::complete) {
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
