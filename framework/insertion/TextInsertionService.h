#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

#include <QList>
#include <QObject>
#include <QString>

#include <qcoro/qcorotask.h>

#include "async/CancelToken.h"
#include "async/Sleeper.h"
#include "focus/FocusedAppDiagnosticsService.h"
#include "focus/FocusedInsertionTarget.h"
#include "insertion/InsertionQueue.h"
#include "insertion/PasteboardSnapshot.h"
#include "insertion/TextInsertionTypes.h"
#include "platform/insertion/Clipboard.h"
#include "platform/insertion/InputInjector.h"
#include "platform/shortcuts/SessionInputProbe.h"

namespace tessvale {

// Hooks of the service; each one left empty takes the service's default.
struct TextInsertionHooks
{
    std::function<bool()> accessibilityTrusted;
    std::function<QCoro::Task<bool>(qint32)> appActivator;
    std::function<QCoro::Task<bool>(FocusedInsertionTargetRef)> targetRestorer;
    // Used only by the default readiness waiter (and by the frontmost checks before each driver).
    std::function<std::optional<qint32>()> currentFrontmostApplicationPID;
    std::function<AccessibilityElement()> currentFocusedElementProvider;
    std::function<QCoro::Task<bool>(FocusedInsertionTargetRef)> targetReadinessWaiter;
    // Sends the paste shortcut; throws TextInsertionError.
    std::function<void()> pasteCommandEmitter;
    std::optional<QList<TextInsertionDriver>> enabledDrivers;
};

// What the drivers act on; each one left empty takes the desktop's own.
struct TextInsertionPlatform
{
    std::shared_ptr<Clipboard> clipboard;
    std::shared_ptr<InputInjector> injector;
    Sleeper* sleeper = nullptr;
    // Keys are never sent while the session is locked or another client has the keyboard.
    std::shared_ptr<SessionInputProbe> sessionInput;
};

// Puts a finished transcript into the application that had focus when dictation began: brings it
// back to the front, gives its field focus again, waits until it is ready, then tries the drivers in
// order until one succeeds. Main thread only; insertions run one at a time.
class TextInsertionService final : public QObject
{
    Q_OBJECT

public:
    static constexpr std::chrono::milliseconds activationSettleDelay { 120 };
    static constexpr std::chrono::milliseconds focusRestoreSettleDelay { 120 };
    static constexpr std::chrono::milliseconds readinessPollInterval { 40 };
    static constexpr std::chrono::milliseconds readinessTimeout { 400 };
    static constexpr std::chrono::milliseconds pasteboardRestoreDelay { 350 };
    // The target may fetch the pasted text late; the user's clipboard comes back no later than this.
    static constexpr std::chrono::milliseconds pasteboardFetchCap { 2000 };
    // How long the user may keep modifiers held before pasting or typing gives up.
    static constexpr std::chrono::milliseconds modifierReleaseTimeout { 2000 };
    static constexpr std::chrono::milliseconds modifierPollInterval { 40 };

    explicit TextInsertionService(std::shared_ptr<FocusedAppDiagnosticsService> diagnosticsService,
        TextInsertionHooks hooks = {}, TextInsertionPlatform platform = {}, QObject* parent = nullptr);
    ~TextInsertionService() override;

    // Throws TextInsertionError (missingAccessibilityPermission, unableToRestoreFocus),
    // TextInsertionServiceError when every driver failed, or CancelledError.
    QCoro::Task<TextInsertionResult> insert(QString text, bool appendTrailingSpace, bool restoreClipboard,
        bool preferDirectTyping, FocusedInsertionTargetRef targetInsertion, CancelToken token = {});

    // The drivers and the default paste command.
    QCoro::Task<> insertWithPasteboard(QString text, bool restoreClipboard, CancelToken token = {});
    void replaceSelectedText(const QString& text);
    QCoro::Task<> typeUnicodeText(QString text, CancelToken token = {});
    void emitCommandV();

    // The default hooks.
    QCoro::Task<bool> activateApplication(qint32 processIdentifier);
    QCoro::Task<bool> restoreTextFocus(FocusedInsertionTargetRef target);
    QCoro::Task<bool> waitUntilTargetReady(FocusedInsertionTargetRef target);

    static QList<TextInsertionDriver> driverOrder(
        const std::optional<QList<TextInsertionDriver>>& enabledDrivers, bool preferDirectTyping);

private:
    QCoro::Task<TextInsertionResult> insertInTurn(QString text, bool restoreClipboard, bool preferDirectTyping,
        FocusedInsertionTargetRef target, CancelToken token);
    QCoro::Task<> prepareTarget(FocusedInsertionTargetRef target, CancelToken token);
    QCoro::Task<> runDriver(TextInsertionDriver driver, QString text, bool restoreClipboard, CancelToken token);
    QCoro::Task<> waitForModifierRelease(CancelToken token);
    QCoro::Task<bool> waitForFetchOrCap(std::shared_ptr<bool> fetched, MonotonicTime pastedAt);
    void restoreSelections(const PasteboardSnapshot& clipboardSnapshot, const PasteboardSnapshot& primarySnapshot);
    bool isFrontmost(qint32 processIdentifier) const;

    std::shared_ptr<FocusedAppDiagnosticsService> m_diagnosticsService;
    TextInsertionHooks m_hooks;
    std::shared_ptr<Clipboard> m_clipboard;
    std::shared_ptr<InputInjector> m_injector;
    std::shared_ptr<SessionInputProbe> m_sessionInput;
    Sleeper* m_sleeper;
    InsertionQueue m_queue;
};

} // namespace tessvale
