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

void logRefusal(const char* step, const PlatformResult& result)
{
    if (!result)
        qCInfo(lcTextInsertion).noquote() << step << "refused:" << result.reason();
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
    QCoro::Task<InsertionQueue::Turn> entering = m_queue.enter(token);
    InsertionQueue::Turn turn = co_await std::move(entering);
    if (!self)
        throw CancelledError();
    QCoro::Task<TextInsertionResult> inserting
        = insertInTurn(std::move(text), restoreClipboard, preferDirectTyping, std::move(targetInsertion), token);
    TextInsertionResult result = co_await std::move(inserting);
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
        QCoro::Task<> preparing = prepareTarget(target, token);
        co_await std::move(preparing);
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
            QCoro::Task<> running = runDriver(driver, text, restoreClipboard, target, token);
            co_await std::move(running);
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
    QCoro::Task<bool> activating = m_hooks.appActivator(pid, token);
    const bool activated = co_await std::move(activating);
    if (!self)
        throw CancelledError();
    token.throwIfCancelled();
    qCInfo(lcTextInsertion).noquote()
        << QStringLiteral("target app activation pid=%1 activated=%2").arg(pid).arg(boolText(activated));

    QCoro::Task<bool> restoring = m_hooks.targetRestorer(target, token);
    const bool restored = co_await std::move(restoring);
    if (!self)
        throw CancelledError();
    token.throwIfCancelled();
    qCInfo(lcTextInsertion).noquote()
        << QStringLiteral("target field restore target=%1 restored=%2").arg(target->summary(), boolText(restored));
    if (target->requiresTextFocusRestore() && !restored)
        throw TextInsertionError(TextInsertionError::unableToRestoreFocus);

    QCoro::Task<bool> readying = m_hooks.targetReadinessWaiter(target, token);
    const bool ready = co_await std::move(readying);
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
    case TextInsertionDriver::pasteboard: {
        QCoro::Task<> pasting = insertWithPasteboard(std::move(text), restoreClipboard, token);
        co_await std::move(pasting);
        break;
    }
    case TextInsertionDriver::selectedText:
        replaceSelectedText(text);
        break;
    case TextInsertionDriver::unicodeTyping: {
        QCoro::Task<> typing = typeUnicodeText(std::move(text), std::move(target), token);
        co_await std::move(typing);
        break;
    }
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

QCoro::Task<> TextInsertionService::pause(std::chrono::milliseconds delay, CancelToken token)
{
    QPointer<TextInsertionService> self(this);
    try {
        QCoro::Task<> sleeping = m_sleeper->sleep(delay, token);
        co_await std::move(sleeping);
    } catch (const CancelledError&) {
    }
    if (!self)
        throw CancelledError();
    token.throwIfCancelled();
}

QCoro::Task<bool> TextInsertionService::activateApplication(qint32 processIdentifier, CancelToken token)
{
    token = bound(token);
    WindowSystem& windows = m_diagnosticsService->windowSystem();
    if (!windows.isRunning(processIdentifier))
        co_return false;
    const auto frontmost = windows.frontmostApplication();
    if (frontmost && frontmost->processIdentifier == processIdentifier)
        co_return true;
    if (const PlatformResult requested = windows.requestActivation(processIdentifier); !requested) {
        qCInfo(lcTextInsertion).noquote() << "activation not requested:" << requested.reason();
        co_return false;
    }
    QCoro::Task<> settling = pause(activationSettleDelay, token);
    co_await std::move(settling);
    co_return true;
}

QCoro::Task<bool> TextInsertionService::restoreTextFocus(FocusedInsertionTargetRef target, CancelToken token)
{
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
    // Advisory: whether the focus came back is read from the application below.
    if (target->focusedWindow())
        logRefusal("window raise", accessibility.raiseWindow(target->focusedWindow()));
    if (!document)
        logRefusal("focus request", accessibility.setFocused(target->focusedElement()));
    QCoro::Task<> settling = pause(focusRestoreSettleDelay, token);
    co_await std::move(settling);
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
        QCoro::Task<> polling = pause(readinessPollInterval, token);
        co_await std::move(polling);
    }
    // A busy application may use up the wait with one or two answers: then its window with no other
    // element reported decides.
    if (answersWereSlow && reading != Reading::notReady) {
        qCInfo(lcTextInsertion) << "accessibility answers slow; the target's window decides readiness";
        co_return true;
    }
    co_return false;
}

} // namespace tessvale
