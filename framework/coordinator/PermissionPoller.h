#pragma once

#include <functional>
#include <optional>

#include <QObject>
#include <QString>
#include <QUuid>

#include <qcoro/qcorotask.h>

#include "async/CancelToken.h"
#include "async/TaskHandle.h"
#include "coordinator/CoordinatorServices.h"
#include "coordinator/CoordinatorTypes.h"
#include "system/PermissionState.h"

namespace tessvale {

// What the poller asks of its owner, which keeps the published permissions.
struct PermissionPollerReports
{
    // Reads the permissions again, publishes them and answers what it read.
    std::function<PermissionSnapshot()> refresh;
    std::function<void(const QString& message)> log;
    // The application came to the front.
    std::function<void()> activated;
};

// Watches for a permission the user is changing in the desktop's settings: one poll at a time, until
// the permissions differ from those it began with or its time is up. Main thread only; destroying it
// ends the poll at its next step.
class PermissionPoller final : public QObject
{
    Q_OBJECT

public:
    PermissionPoller(const CoordinatorServices& services, PermissionPollerReports reports, QObject* parent = nullptr);
    ~PermissionPoller() override;

    // Tells the owner whenever the application becomes active; once, and only in a GUI application.
    void installActivationObserver();
    // Replaces the running poll with one that compares against baseline.
    void start(const QString& reason, PermissionSnapshot baseline, CancelToken token);
    void cancel();
    // Receives every poll's start and finish; empty by default.
    void setEventHandler(std::function<void(const PermissionRefreshPollEvent&)> handler);

private:
    QCoro::Task<> run(QUuid pollID, PermissionSnapshot baseline, CancelToken token);
    void finish(const QUuid& pollID, PermissionRefreshPollOutcome outcome);
    void report(const PermissionRefreshPollEvent& event);

    // The owner's (sleeper and timing), which outlive this object.
    const CoordinatorServices* m_services;
    PermissionPollerReports m_reports;
    CancelSource m_lifetime;
    bool m_observerInstalled = false;
    TaskHandle m_task;
    std::optional<QUuid> m_activePollID;
    std::function<void(const PermissionRefreshPollEvent&)> m_eventHandler;
};

} // namespace tessvale
