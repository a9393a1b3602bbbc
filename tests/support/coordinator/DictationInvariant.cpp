#include "support/coordinator/DictationInvariant.h"

#include <utility>

#include <QObject>
#include <QStringList>

#include "coordinator/CoordinatorHelpers.h"
#include "coordinator/DictationCoordinator.h"
#include "coordinator/DictationCoordinatorTestAccess.h"

namespace tessvale {

using Access = DictationCoordinatorTestAccess;

DictationInvariant::DictationInvariant(DictationCoordinator& coordinator, std::function<bool()> recorderRunning,
    std::function<void(const QString&)> report)
    : m_coordinator(coordinator)
    , m_recorderRunning(std::move(recorderRunning))
    , m_report(std::move(report))
    , m_phase(coordinator.phase())
{
    // Direct: the phase is judged with the session state of the moment it changed.
    m_phaseConnection = QObject::connect(&coordinator, &DictationCoordinator::phaseChanged, &coordinator,
        [this](DictationPhase phase) { phaseChanged(phase); });
    m_stateConnection = QObject::connect(&coordinator, &DictationCoordinator::stateChanged, &coordinator,
        [this] { check(QStringLiteral("state change")); });
}

DictationInvariant::~DictationInvariant()
{
    QObject::disconnect(m_phaseConnection);
    QObject::disconnect(m_stateConnection);
}

void DictationInvariant::check(const QString& when)
{
    if (!m_recorderRunning())
        return;
    checkSignOut(when);
    const DictationPhase phase = m_coordinator.phase();
    if (!Access::sessionID(m_coordinator) || !Access::hasTransport(m_coordinator))
        violated(when, QStringLiteral("the microphone records without a session"));
    else if (phase != DictationPhase::starting && phase != DictationPhase::recording
        && !(phase == DictationPhase::finalizing && Access::isStopPending(m_coordinator)))
        violated(when, QStringLiteral("the microphone records in phase ") + caseName(phase));
    if (!m_coordinator.shouldShowHUD())
        violated(when, QStringLiteral("the microphone records while the HUD is hidden"));

    // Wanted is not enough: the user sees the HUD before the microphone hears them.
    if (m_hudOnScreen && !m_hudOnScreen())
        violated(when, QStringLiteral("the microphone is open while the HUD is not on screen"));
}

void DictationInvariant::checkSignOut(const QString& when)
{
    if (Access::isSignOutRequested(m_coordinator))
        violated(when, QStringLiteral("the microphone records after the user chose Sign Out"));
}

void DictationInvariant::phaseChanged(DictationPhase phase)
{
    const DictationPhase previous = std::exchange(m_phase, phase);
    if (!isDictationPhase(previous) || (phase != DictationPhase::ready && phase != DictationPhase::signedOut))
        return;
    // The session's own ends: torn down, finished by the service, or its insertion done.
    const std::optional<QUuid> session = Access::sessionID(m_coordinator);
    if (!session || !Access::hasTransport(m_coordinator) || Access::completedSessionID(m_coordinator) == session)
        return;
    if (previous == DictationPhase::inserting && !Access::isInserting(m_coordinator))
        return;
    violated(QStringLiteral("phase change"),
        QStringLiteral("a live dictation went from ") + caseName(previous) + QStringLiteral(" to ") + caseName(phase)
            + QStringLiteral(" with its session still open"));
}

void DictationInvariant::violated(const QString& when, const QString& rule)
{
    const std::optional<QUuid> session = Access::sessionID(m_coordinator);
    QStringList recent;
    for (const ActivityLogEntry& entry : m_coordinator.activityLog()) {
        if (recent.size() == 4)
            break;
        recent.prepend(entry.message);
    }
    m_report(QStringLiteral("Dictation invariant broken after %1: %2 (phase=%3, session=%4, recorder=%5). Recent "
                            "log: %6")
                 .arg(when, rule, caseName(m_coordinator.phase()), session ? logID(*session) : QStringLiteral("none"),
                     m_recorderRunning() ? QStringLiteral("running") : QStringLiteral("stopped"),
                     recent.join(QStringLiteral(" | "))));
}

} // namespace tessvale
