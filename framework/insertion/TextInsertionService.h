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
#include "platform/focus/WindowSystem.h"
#include "platform/insertion/Clipboard.h"
#include "platform/insertion/InputInjector.h"
#include "platform/shortcuts/SessionInputProbe.h"

namespace tessvale {

// Hooks of the service; each one left empty takes the service's default. The waits get the
// insertion's token, which is also cancelled when the service goes away.
struct TextInsertionHooks
{
    std::function<bool()> accessibilityTrusted;
    std::function<QCoro::Task<bool>(qint32, CancelToken)> appActivator;
    std::function<QCoro::Task<bool>(FocusedInsertionTargetRef, CancelToken)> targetRestorer;
    // Used only by the default readiness waiter and by the frontmost checks (before each driver and
    // between typed batches).
    std::function<std::optional<qint32>()> currentFrontmostApplicationPID;
    // The active window's id, 0 when none; with the process it identifies the target.
    std::function<quint64()> currentFrontmostWindowID;
    // Where keys go now; the frontmost checks require it to be the target's window too.
    std::function<std::optional<KeyboardFocusWindow>()> currentKeyboardFocusWindow;
    std::function<AccessibilityElement()> currentFocusedElementProvider;
    std::function<QCoro::Task<bool>(FocusedInsertionTargetRef, CancelToken)> targetReadinessWaiter;
    // Sends the paste shortcut; throws TextInsertionError.
    std::function<void()> pasteCommandEmitter;
    std::optional<QList<TextInsertionDriver>> enabledDrivers;
};

// What the drivers act on; all required but the sleeper (the system clock when left empty).
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
// order until one succeeds. A driver that may already have changed the target ends the insertion
// with its error instead: the next driver would insert the text a second time. Main thread only;
// insertions run one at a time. Destroying the service ends its insertions with CancelledError, a
// saved clipboard restored first.
class TextInsertionService final : public QObject
{
    Q_OBJECT

public:
    static constexpr std::chrono::milliseconds activationSettleDelay { 120 };
    static constexpr std::chrono::milliseconds focusRestoreSettleDelay { 120 };
    static constexpr std::chrono::milliseconds readinessPollInterval { 40 };
    static constexpr std::chrono::milliseconds readinessTimeout { 400 };
    // A busy application answers an accessibility query in seconds. While its window is the right one,
    // the time spent waiting for its answers is not taken from the readiness wait, which then lasts
    // up to this long.
    static constexpr std::chrono::milliseconds readinessSlowAnswerLimit { 2000 };
    static constexpr std::chrono::milliseconds pasteboardRestoreDelay { 350 };
    // The target may fetch the pasted text late; the user's clipboard comes back no later than this.
    static constexpr std::chrono::milliseconds pasteboardFetchCap { 2000 };
    // How long the user may keep modifiers held before pasting or typing gives up.
    static constexpr std::chrono::milliseconds modifierReleaseTimeout { 2000 };
    static constexpr std::chrono::milliseconds modifierPollInterval { 40 };

    explicit TextInsertionService(std::shared_ptr<FocusedAppDiagnosticsService> diagnosticsService,
        TextInsertionHooks hooks = {}, TextInsertionPlatform platform = {}, QObject* parent = nullptr);
    ~TextInsertionService() override;

    // Throws TextInsertionError (missingAccessibilityPermission, unableToRestoreFocus, or one whose
    // mayHaveChangedTarget() holds), TextInsertionServiceError when every driver failed, or
    // CancelledError.
    QCoro::Task<TextInsertionResult> insert(QString text, bool appendTrailingSpace, bool restoreClipboard,
        bool preferDirectTyping, FocusedInsertionTargetRef targetInsertion, CancelToken token = {});

    // The drivers and the default paste command.
    QCoro::Task<> insertWithPasteboard(QString text, bool restoreClipboard, CancelToken token = {});
    void replaceSelectedText(const QString& text);
    // Stops when the focus leaves target (or, without one, the window active when typing began).
    QCoro::Task<> typeUnicodeText(QString text, FocusedInsertionTargetRef target = nullptr, CancelToken token = {});
    void emitCommandV();

    // The default hooks.
    QCoro::Task<bool> activateApplication(qint32 processIdentifier, CancelToken token = {});
    QCoro::Task<bool> restoreTextFocus(FocusedInsertionTargetRef target, CancelToken token = {});
    QCoro::Task<bool> waitUntilTargetReady(FocusedInsertionTargetRef target, CancelToken token = {});

    static QList<TextInsertionDriver> driverOrder(
        const std::optional<QList<TextInsertionDriver>>& enabledDrivers, bool preferDirectTyping);

private:
    QCoro::Task<TextInsertionResult> insertInTurn(QString text, bool restoreClipboard, bool preferDirectTyping,
        FocusedInsertionTargetRef target, CancelToken token);
    QCoro::Task<> prepareTarget(FocusedInsertionTargetRef target, CancelToken token);
    QCoro::Task<> runDriver(TextInsertionDriver driver, QString text, bool restoreClipboard,
        FocusedInsertionTargetRef target, CancelToken token);
    QCoro::Task<> waitForModifierRelease(CancelToken token);
    // Waits out delay (or less when token is cancelled); resumes its caller only while the service
    // lives and token holds, and throws CancelledError otherwise.
    QCoro::Task<> pause(std::chrono::milliseconds delay, CancelToken token);
    // The caller's token combined with the service's lifetime.
    CancelToken bound(const CancelToken& token) const;
    // Whether that process and window (when known) are frontmost now and have the keyboard's keys.
    bool isFrontmost(qint32 processIdentifier, quint64 windowId) const;
    bool isFrontmost(const FocusedInsertionTarget& target) const;

    std::shared_ptr<FocusedAppDiagnosticsService> m_diagnosticsService;
    TextInsertionHooks m_hooks;
    std::shared_ptr<Clipboard> m_clipboard;
    std::shared_ptr<InputInjector> m_injector;
    std::shared_ptr<SessionInputProbe> m_sessionInput;
    Sleeper* m_sleeper;
    CancelSource m_lifetime;
    InsertionQueue m_queue;
};

} // namespace tessvale
