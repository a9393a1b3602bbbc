#include "coordinator/PermissionPoller.h"

#include <utility>

#include <QCoreApplication>
#include <QGuiApplication>
#include <QPointer>

#include "async/Spawn.h"

namespace tessvale {

PermissionPoller::PermissionPoller(
    const CoordinatorServices& services, PermissionPollerReports reports, QObject* parent)
    : QObject(parent)
    , m_services(&services)
    , m_reports(std::move(reports))
{
}

PermissionPoller::~PermissionPoller()
{
    m_lifetime.cancel();
    m_task.cancel();
}

void PermissionPoller::installActivationObserver()
{
    if (m_observerInstalled)
        return;
    // Only a GUI application learns of activation; the windows call refreshPermissionsOnActivation too.
    auto* application = qobject_cast<QGuiApplication*>(QCoreApplication::instance());
    if (!application)
        return;
    // The poller as context: the connection ends with it.
    connect(application, &QGuiApplication::applicationStateChanged, this, [this](Qt::ApplicationState state) {
        if (state == Qt::ApplicationActive)
            m_reports.activated();
    });
    m_observerInstalled = true;
}

void PermissionPoller::start(const QString& reason, PermissionSnapshot baseline, CancelToken token)
{
    cancel();
    const QUuid pollID = QUuid::createUuid();
    m_activePollID = pollID;
    report(PermissionRefreshPollEvent::started(pollID));
    m_reports.log(QStringLiteral("Started permission polling. reason=") + reason);
    m_task = spawnOnMain(
        this,
        [this, pollID, baseline, token = m_lifetime.token().combinedWith(token)](
            CancelToken taskToken) { return run(pollID, baseline, taskToken.combinedWith(token)); },
        QStringLiteral("permissionRefreshPoll"));
}

void PermissionPoller::cancel()
{
    if (!m_task.isValid() || !m_activePollID)
        return;
    TaskHandle task = std::exchange(m_task, TaskHandle());
    const QUuid pollID = *std::exchange(m_activePollID, std::nullopt);
    task.cancel();
    // The cancelled task finds the identifier cleared and reports nothing more.
    report(PermissionRefreshPollEvent::finished(pollID, PermissionRefreshPollOutcome::canceled));
}

void PermissionPoller::setEventHandler(std::function<void(const PermissionRefreshPollEvent&)> handler)
{
    m_eventHandler = std::move(handler);
}

QCoro::Task<> PermissionPoller::run(QUuid pollID, PermissionSnapshot baseline, CancelToken token)
{
    QPointer<PermissionPoller> self(this);
    Sleeper* sleeper = m_services->sleeper;
    const MonotonicTime deadline = sleeper->now() + m_services->timing.permissionRefreshTimeout;
    for (;;) {
        // A poll replaced before its first check, or while a wake was already due, stops silently.
        if (token.isCancelled() || m_activePollID != pollID) {
            finish(pollID, PermissionRefreshPollOutcome::canceled);
            co_return;
        }
        if (m_reports.refresh() != baseline) {
            m_reports.log(QStringLiteral("Permission polling stopped after a permission change."));
            finish(pollID, PermissionRefreshPollOutcome::changed);
            co_return;
        }
        if (sleeper->now() >= deadline) {
            m_reports.log(QStringLiteral("Permission polling timed out without a permission change."));
            finish(pollID, PermissionRefreshPollOutcome::timedOut);
            co_return;
        }
        bool cancelled = false;
        try {
            QCoro::Task<> pause = sleeper->sleep(m_services->timing.permissionRefreshInterval, token);
            co_await std::move(pause);
        } catch (const CancelledError&) {
            cancelled = true;
        }
        if (!self)
            co_return;
        if (cancelled) {
            finish(pollID, PermissionRefreshPollOutcome::canceled);
            co_return;
        }
    }
}

void PermissionPoller::finish(const QUuid& pollID, PermissionRefreshPollOutcome outcome)
{
    // Only the current poll may end itself; a replaced one was reported when it was cancelled.
    if (m_activePollID != pollID)
        return;
    m_task = TaskHandle();
    m_activePollID.reset();
    report(PermissionRefreshPollEvent::finished(pollID, outcome));
}

void PermissionPoller::report(const PermissionRefreshPollEvent& event)
{
    if (m_eventHandler)
        m_eventHandler(event);
}

} // namespace tessvale
