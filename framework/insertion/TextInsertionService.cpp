#include "insertion/TextInsertionService.h"

#include <QPointer>
#include <QStringList>

#include "platform/linux/insertion/QtClipboard.h"
#include "platform/linux/insertion/XTestInputInjector.h"
#include "platform/linux/shortcuts/X11SessionInputProbe.h"
#include "system/Logging.h"

namespace tessvale {

namespace {

const QString unknownTarget = QStringLiteral("unknown target");

QString boolText(bool value)
{
    return value ? QStringLiteral("true") : QStringLiteral("false");
}

} // namespace

TextInsertionService::TextInsertionService(std::shared_ptr<FocusedAppDiagnosticsService> diagnosticsService,
    TextInsertionHooks hooks, TextInsertionPlatform platform, QObject* parent)
    : QObject(parent)
    , m_diagnosticsService(std::move(diagnosticsService))
    , m_hooks(std::move(hooks))
    , m_clipboard(platform.clipboard ? platform.clipboard : std::make_shared<QtClipboard>())
    , m_injector(platform.injector ? platform.injector : std::make_shared<XTestInputInjector>())
    , m_sessionInput(platform.sessionInput ? platform.sessionInput : std::make_shared<X11SessionInputProbe>())
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
                qCCritical(lcTextInsertion).noquote() << QStringLiteral("insert stopped driver=%1 target=%2 error=%3")
                                                             .arg(rawValue(driver), label, error.errorDescription());
                throw;
            }
            failure = error.errorDescription();
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
    throw TextInsertionServiceError(failures);
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
    if (windowId != 0)
        return m_hooks.currentFrontmostWindowID() == windowId;
    return processIdentifier != 0;
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
    if (FocusedAppDiagnosticsService::sameElement(
            m_diagnosticsService->currentFocusedElement(), target->focusedElement()))
        co_return true;
    Accessibility& accessibility = m_diagnosticsService->accessibility();
    if (target->focusedWindow())
        accessibility.raiseWindow(target->focusedWindow());
    accessibility.setFocused(target->focusedElement());
    try {
        co_await m_sleeper->sleep(focusRestoreSettleDelay, token);
    } catch (const CancelledError&) {
    }
    if (!self)
        throw CancelledError();
    token.throwIfCancelled();
    co_return FocusedAppDiagnosticsService::sameElement(
        m_diagnosticsService->currentFocusedElement(), target->focusedElement());
}

QCoro::Task<bool> TextInsertionService::waitUntilTargetReady(FocusedInsertionTargetRef target, CancelToken token)
{
    QPointer<TextInsertionService> self(this);
    token = bound(token);
    const MonotonicTime deadline = m_sleeper->now() + readinessTimeout;
    bool previousReady = false;
    while (m_sleeper->now() < deadline) {
        const bool windowMatches = isFrontmost(*target);
        bool ready = windowMatches;
        bool counted = true;
        if (target->requiresTextFocusRestore()) {
            const AccessibilityElement focused
                = target->focusedElement() ? m_hooks.currentFocusedElementProvider() : nullptr;
            if (!focused)
                counted = false;
            else
                ready = windowMatches && FocusedAppDiagnosticsService::sameElement(focused, target->focusedElement());
        }
        if (counted && ready && previousReady)
            co_return true;
        previousReady = counted && ready;
        try {
            co_await m_sleeper->sleep(readinessPollInterval, token);
        } catch (const CancelledError&) {
        }
        if (!self)
            throw CancelledError();
        token.throwIfCancelled();
    }
    co_return false;
}

} // namespace tessvale
