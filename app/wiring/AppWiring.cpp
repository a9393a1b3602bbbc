#include "wiring/AppWiring.h"

#include <algorithm>
#include <chrono>

#include <QPointer>

#include "async/Spawn.h"
#include "coordinator/DictationCoordinator.h"
#include "platform/shortcuts/KeyCodeTranslator.h"
#include "settings/AppSettings.h"

namespace tessvale {

namespace {

using namespace std::chrono_literals;

// How often a resume waiting for the recorded keys to be released looks at the keyboard again.
constexpr Duration kReleaseCheckInterval = 20ms;

} // namespace

ShortcutBindingObserver::ShortcutBindingObserver(AppSettings& settings, Configure configure, QObject* parent)
    : QObject(parent)
    , m_configure(std::move(configure))
    , m_pushToTalk(settings.pushToTalkShortcut())
    , m_handsFree(settings.handsFreeToggleShortcut())
{
    connect(&settings, &AppSettings::pushToTalkShortcutChanged, this,
        [this](const ShortcutBinding& value) { offer(value, m_handsFree); });
    connect(&settings, &AppSettings::handsFreeToggleShortcutChanged, this,
        [this](const ShortcutBinding& value) { offer(m_pushToTalk, value); });
    offer(m_pushToTalk, m_handsFree);
}

void ShortcutBindingObserver::offer(const ShortcutBinding& pushToTalk, const ShortcutBinding& handsFree)
{
    m_pushToTalk = pushToTalk;
    m_handsFree = handsFree;
    std::pair<ShortcutBinding, ShortcutBinding> pair { pushToTalk, handsFree };
    if (m_last == pair)
        return;
    m_last = std::move(pair);
    m_configure(pushToTalk, handsFree);
}

InitialSetupObserver::InitialSetupObserver(
    AppSettings& settings, DictationCoordinator& coordinator, Present present, QObject* parent)
    : QObject(parent)
    , m_settings(settings)
    , m_coordinator(coordinator)
    , m_present(std::move(present))
{
    connect(&coordinator, &DictationCoordinator::didFinishSessionBootstrapChanged, this,
        &InitialSetupObserver::bootstrapChanged);
    bootstrapChanged(coordinator.didFinishSessionBootstrap());
}

void InitialSetupObserver::bootstrapChanged(bool finished)
{
    if (m_last == finished)
        return;
    m_last = finished;
    if (!finished)
        return;
    const bool initialSetupDue = m_settings.shouldPresentInitialSetup() && !m_coordinator.isAuthenticated();
    // Settings that cannot be kept are said where the user sees them at once, signed in or not.
    const bool storeCannotKeepChanges = !m_presentedAtStart && !m_settings.storeProblem().isEmpty();
    if (!initialSetupDue && !storeCannotKeepChanges)
        return;
    m_presentedAtStart = true;
    if (m_present() && initialSetupDue)
        m_settings.markInitialSetupPresented();
}

ShortcutWiring::ShortcutWiring(AppSettings& settings, DictationCoordinator& coordinator,
    DictationShortcutEngine::MonitorFactory monitorFactory, Sleeper& sleeper, QObject* parent,
    std::shared_ptr<KeyCodeTranslator> keyCodes)
    : QObject(parent)
    , m_coordinator(coordinator)
    , m_keyCodes(std::move(keyCodes))
    , m_monitorFactory(monitorFactory)
    , m_sleeper(sleeper)
{
    CoordinatorShortcutHandlers handlers = shortcutHandlers(coordinator);
    DictationShortcutEngine::ActionHandler act
        = [this, perform = std::move(handlers.action)](DictationShortcutAction action) {
              emit actionPerformed(action);
              perform(action);
          };
    m_engine = std::make_unique<DictationShortcutEngine>(settings.pushToTalkShortcut(),
        settings.handsFreeToggleShortcut(), std::move(act), std::move(handlers.error),
        std::move(handlers.isHandsFreeActive), std::move(monitorFactory), sleeper);
    m_bindingObserver = std::make_unique<ShortcutBindingObserver>(
        settings, [this](const ShortcutBinding& pushToTalk, const ShortcutBinding& handsFree) {
            configure(pushToTalk, handsFree);
        });
}

ShortcutWiring::~ShortcutWiring()
{
    m_releaseWait.cancel();
    // No configuration may reach an engine that is going.
    m_bindingObserver.reset();
}

void ShortcutWiring::configure(const ShortcutBinding& pushToTalk, const ShortcutBinding& handsFree)
{
    if (isSuspended()) {
        m_heldBack = std::make_pair(pushToTalk, handsFree);
        return;
    }
    ++m_configurations;
    m_engine->configureBindings(pushToTalk, handsFree);
}

void ShortcutWiring::start()
{
    m_stopped = false;
    if (isSuspended()) {
        m_listenOnResume = true;
        return;
    }
    m_engine->start();
}

void ShortcutWiring::stop()
{
    m_stopped = true;
    m_listenOnResume = false;
    m_engine->stop();
}

void ShortcutWiring::suspend()
{
    if (m_suspensions++ > 0)
        return;
    startRecordingListener();
    // Still waiting for the keys of the last recording: the engine is stopped already, and what it
    // should do on resume was settled then.
    if (std::exchange(m_isAwaitingRelease, false)) {
        m_releaseWait.cancel();
        return;
    }
    m_listenOnResume = m_engine->isMonitoring();
    if (m_coordinator.triggerMode() == DictationTriggerMode::pushToTalk)
        m_coordinator.stopDictation();
    m_engine->stop();
}

void ShortcutWiring::resume()
{
    if (m_suspensions == 0 || --m_suspensions > 0)
        return;
    m_recordingListener.reset();
    m_lastModifiedKeyPress.reset();
    std::vector<quint16> held = m_keyCodes ? m_keyCodes->heldKeyCodes() : std::vector<quint16> {};
    if (held.empty()) {
        listenAgain();
        return;
    }
    m_isAwaitingRelease = true;
    m_releaseWait = CancelSource();
    runDetached(
        [this, held = std::move(held)](CancelToken token) { return resumeOnceReleased(held, std::move(token)); },
        m_releaseWait.token(), QStringLiteral("resumeOnceReleased"));
}

QCoro::Task<> ShortcutWiring::resumeOnceReleased(std::vector<quint16> heldKeys, CancelToken token)
{
    QPointer<ShortcutWiring> self(this);
    const auto anyStillHeld = [&] {
        const std::vector<quint16> now = m_keyCodes->heldKeyCodes();
        return std::any_of(heldKeys.begin(), heldKeys.end(),
            [&](quint16 key) { return std::find(now.begin(), now.end(), key) != now.end(); });
    };
    while (anyStillHeld()) {
        try {
            QCoro::Task<> sleeping = m_sleeper.sleep(kReleaseCheckInterval, token);
            co_await std::move(sleeping);
        } catch (...) {
            co_return;
        }
        if (!self || token.isCancelled())
            co_return;
    }
    m_isAwaitingRelease = false;
    listenAgain();
}

void ShortcutWiring::listenAgain()
{
    std::optional<std::pair<ShortcutBinding, ShortcutBinding>> heldBack = std::exchange(m_heldBack, std::nullopt);
    if (heldBack) {
        // Configuring starts the engine: a stopped wiring takes the pair but stays stopped.
        configure(heldBack->first, heldBack->second);
        if (m_stopped)
            m_engine->stop();
    } else if (m_listenOnResume) {
        m_engine->start();
    }
}

void ShortcutWiring::startRecordingListener()
{
    m_lastModifiedKeyPress.reset();
    m_recordingListener = m_monitorFactory ? m_monitorFactory() : nullptr;
    if (!m_recordingListener)
        return;
    try {
        m_recordingListener->start([this](const KeyboardShortcutEvent& event) {
            if (event.kind == KeyboardShortcutEvent::Kind::keyDown && event.keyCode && !event.modifiers.isEmpty())
                m_lastModifiedKeyPress = ModifiedKeyPress { event.modifiers, *event.keyCode };
            return false;
        });
    } catch (const KeyboardEventMonitorError&) {
        // The recorder then names only what reached our window.
        m_recordingListener.reset();
    }
}

std::optional<ModifiedKeyPress> ShortcutWiring::lastModifiedKeyPress()
{
    // What the desktop took may still be on its way to the listener.
    if (m_recordingListener)
        m_recordingListener->deliverPendingEvents();
    return m_lastModifiedKeyPress;
}

} // namespace tessvale
