#include "coordinator/DictationCoordinator.h"

#include <utility>

#include <QPointer>

#include "async/OneShot.h"
#include "async/Spawn.h"

namespace tessvale {

namespace {

// The HUD's answer and the time limit race; the first settles the wait.
QCoro::Task<> settleWhenShown(HUDShownHook hook, OneShot<bool> shown, CancelToken token)
{
    bool onScreen = true;
    try {
        QCoro::Task<> showing = hook(std::move(token));
        co_await std::move(showing);
    } catch (...) {
        onScreen = false;
    }
    shown.resolve(onScreen);
}

QCoro::Task<> settleAfter(Sleeper* sleeper, Duration limit, OneShot<bool> shown, CancelToken token)
{
    try {
        QCoro::Task<> waiting = sleeper->sleep(limit, std::move(token));
        co_await std::move(waiting);
    } catch (const CancelledError&) {
        // The HUD answered first, or the coordinator went: the wait is settled either way.
    }
    shown.resolve(false);
}

} // namespace

QCoro::Task<> DictationCoordinator::waitForHUDShown(QUuid sessionID)
{
    if (!m_services.hudShown)
        co_return;
    QPointer<DictationCoordinator> self(this);
    CancelSource waits;
    const CancelToken token = bound(waits.token());
    OneShot<bool> shown;
    runDetached(
        [hook = m_services.hudShown, shown](CancelToken t) { return settleWhenShown(hook, shown, std::move(t)); },
        token, QStringLiteral("hudShown"));
    if (!shown.isDone()) {
        runDetached([sleeper = m_services.sleeper, limit = m_services.timing.hudShownTimeout, shown](
                        CancelToken t) { return settleAfter(sleeper, limit, shown, std::move(t)); },
            token, QStringLiteral("hudShownTimeout"));
    }
    const bool onScreen = co_await shown;
    waits.cancel();
    if (!self)
        co_return;
    // A desktop that never shows the window must not make dictation impossible.
    if (!onScreen && currentSessionID() == sessionID)
        logActivity(QStringLiteral("The HUD did not come on screen in time; opening the microphone anyway."));
}

void DictationCoordinator::showFailure()
{
    const quint64 notice = ++m_failure.number;
    m_failure.task.cancel();
    m_failure.task = launchMainActorTask(
        [this, notice](CancelToken token) { return runFailureNotice(notice, token); }, QStringLiteral("failureShown"));
    if (!m_failure.isShown)
        setShowingFailure(true);
}

QCoro::Task<> DictationCoordinator::runFailureNotice(quint64 notice, CancelToken token)
{
    QPointer<DictationCoordinator> self(this);
    QCoro::Task<bool> waiting = waitFor(m_services.timing.failureShownFor, token);
    const bool slept = co_await std::move(waiting);
    if (!slept || !self || notice != m_failure.number)
        co_return;
    endFailureNotice();
}

void DictationCoordinator::endFailureNotice()
{
    if (!m_failure.isShown)
        return;
    m_failure.task.cancel();
    setShowingFailure(false);
}

void DictationCoordinator::dismissFailure()
{
    if (!m_failure.isShown)
        return;
    logActivity(QStringLiteral("Dismissed the failure shown in the HUD."));
    endFailureNotice();
}

bool DictationCoordinator::dismissFailureOnPress()
{
    if (!m_failure.isShown)
        return false;
    // The user may not have seen the dictation end: the press meant to stop it, not to start anew.
    logActivity(QStringLiteral("Dismissed the failure shown in the HUD instead of starting a dictation."));
    endFailureNotice();
    return true;
}

} // namespace tessvale
