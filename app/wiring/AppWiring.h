#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include <QObject>

#include <qcoro/qcorotask.h>

#include "async/CancelToken.h"
#include "async/Sleeper.h"

#include "coordinator/CoordinatorShortcuts.h"
#include "coordinator/CoordinatorTypes.h"
#include "settings/ShortcutBinding.h"
#include "shortcuts/DictationShortcutEngine.h"
#include "wiring/ShortcutEngineSuspension.h"

namespace tessvale {

class AppSettings;
class DictationCoordinator;
class KeyCodeTranslator;

// Hands the shortcut engine the stored pair of bindings at once, then the pair after every change
// of either binding; a pair equal to the one before it is dropped, so rewriting a stored value
// does not rebuild the engine's keyboard listener.
class ShortcutBindingObserver final : public QObject
{
    Q_OBJECT

public:
    using Configure = std::function<void(const ShortcutBinding& pushToTalk, const ShortcutBinding& handsFree)>;

    ShortcutBindingObserver(AppSettings& settings, Configure configure, QObject* parent = nullptr);

private:
    void offer(const ShortcutBinding& pushToTalk, const ShortcutBinding& handsFree);

    Configure m_configure;
    ShortcutBinding m_pushToTalk;
    ShortcutBinding m_handsFree;
    std::optional<std::pair<ShortcutBinding, ShortcutBinding>> m_last;
};

// Brings up the setup window when the session bootstrap finishes while the initial setup is due and
// nobody is signed in, and once at start when the settings store cannot keep changes. present()
// answers whether the window really came up; only then is the initial setup marked as presented, so
// a failed presentation is tried again at the next start.
class InitialSetupObserver final : public QObject
{
    Q_OBJECT

public:
    using Present = std::function<bool()>;

    InitialSetupObserver(
        AppSettings& settings, DictationCoordinator& coordinator, Present present, QObject* parent = nullptr);

private:
    void bootstrapChanged(bool finished);

    AppSettings& m_settings;
    DictationCoordinator& m_coordinator;
    Present m_present;
    std::optional<bool> m_last;
    bool m_presentedAtStart = false;
};

// The global shortcuts wired to the coordinator: the engine over the stored bindings with its three
// handlers (the actions to the dictation commands, complaints to the shortcut error, the hands-free
// query), and the binding observer, which configures it with the stored pair at once, before
// start(), and again after every real change.
//
// While suspended (a shortcut is being recorded) the engine is stopped and the observer's
// configurations are held back, since configuring the engine starts it again; the latest pair is
// applied on resume. A push-to-talk dictation live when the suspension starts is stopped: its key
// release will never be seen. The engine listens again only once the keys held at the last resume
// are up: a recorded combination still held must not start what it is bound to. Meanwhile a listener
// of its own notes what is pressed with modifiers, also what the desktop takes.
class ShortcutWiring final : public QObject, public ShortcutEngineSuspension
{
    Q_OBJECT

public:
    ShortcutWiring(AppSettings& settings, DictationCoordinator& coordinator,
        DictationShortcutEngine::MonitorFactory monitorFactory, Sleeper& sleeper, QObject* parent = nullptr,
        std::shared_ptr<KeyCodeTranslator> keyCodes = nullptr);
    ~ShortcutWiring() override;

    void start();
    void stop();
    DictationShortcutEngine& engine() const { return *m_engine; }
    // How often the engine has been configured with a pair from the observer.
    int configurationCount() const { return m_configurations; }

    void suspend() override;
    void resume() override;
    KeyCodeTranslator* keyCodes() const override { return m_keyCodes.get(); }
    std::optional<ModifiedKeyPress> lastModifiedKeyPress() override;
    // Also while the last resume waits for the keys held then to be released.
    bool isSuspended() const { return m_suspensions > 0 || m_isAwaitingRelease; }

signals:
    // The engine's action, as it goes to the coordinator.
    void actionPerformed(DictationShortcutAction action);

private:
    void configure(const ShortcutBinding& pushToTalk, const ShortcutBinding& handsFree);
    void startRecordingListener();
    QCoro::Task<> resumeOnceReleased(std::vector<quint16> heldKeys, CancelToken token);
    void listenAgain();

    DictationCoordinator& m_coordinator;
    std::shared_ptr<KeyCodeTranslator> m_keyCodes;
    std::unique_ptr<DictationShortcutEngine> m_engine;
    std::unique_ptr<ShortcutBindingObserver> m_bindingObserver;
    int m_configurations = 0;
    int m_suspensions = 0;
    // Whether the engine listened when the suspension began, so resume() starts it again.
    bool m_listenOnResume = false;
    bool m_stopped = false;
    std::optional<std::pair<ShortcutBinding, ShortcutBinding>> m_heldBack;
    DictationShortcutEngine::MonitorFactory m_monitorFactory;
    Sleeper& m_sleeper;
    // Listens (swallowing nothing) while suspended.
    std::unique_ptr<KeyboardEventMonitor> m_recordingListener;
    std::optional<ModifiedKeyPress> m_lastModifiedKeyPress;
    bool m_isAwaitingRelease = false;
    CancelSource m_releaseWait;
};

} // namespace tessvale
