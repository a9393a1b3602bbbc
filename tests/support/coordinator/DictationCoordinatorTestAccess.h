#pragma once

#include <optional>
#include <utility>

#include <QString>
#include <QUuid>

#include <qcoro/qcorotask.h>

#include "coordinator/DictationCoordinator.h"

namespace tessvale {

// The few internal steps that tests drive directly, where the public path would need a whole
// dictation: a phase set from outside, an open session, a committed transcript's insertion.
class DictationCoordinatorTestAccess
{
public:
    static void setPhase(DictationCoordinator& coordinator, DictationPhase phase) { coordinator.setPhase(phase); }
    static void setLastError(DictationCoordinator& coordinator, const QString& text) { coordinator.setLastError(text); }

    static void setAudioLevel(DictationCoordinator& coordinator, double level) { coordinator.setAudioLevel(level); }

    static void setTriggerMode(DictationCoordinator& coordinator, std::optional<DictationTriggerMode> mode)
    {
        coordinator.setTriggerMode(mode);
    }

    static void setDidFinishSessionBootstrap(DictationCoordinator& coordinator, bool value)
    {
        coordinator.setDidFinishSessionBootstrap(value);
    }

    // A session as its start leaves it: identifier, transport, insertion target.
    static void openSession(DictationCoordinator& coordinator, QUuid sessionID,
        std::optional<WebSocketTransport> transport, FocusedInsertionTargetRef target = nullptr)
    {
        const bool opened = transport.has_value();
        coordinator.m_session = std::make_unique<DictationSession>(sessionID, std::move(transport), std::move(target));
        if (opened)
            coordinator.m_session->markStreamBegun();
    }

    // What bootstrap starts in the background.
    static void restoreSavedSession(DictationCoordinator& coordinator)
    {
        coordinator.launchMainActorTask(
            [&coordinator](CancelToken token) { return coordinator.restoreSavedSession(token); },
            QStringLiteral("restoreSavedSession"));
    }

    static std::optional<QUuid> sessionID(const DictationCoordinator& coordinator)
    {
        return coordinator.currentSessionID();
    }
    static bool isInserting(const DictationCoordinator& coordinator) { return coordinator.m_insertion.isRunning; }
    static bool isStartingRecording(const DictationCoordinator& coordinator) { return coordinator.m_start.has_value(); }
    static bool hasTransport(const DictationCoordinator& coordinator)
    {
        return coordinator.m_session && coordinator.m_session->transport().has_value();
    }
    // A stop of the current session has begun: the microphone may run on through its grace.
    static bool isStopPending(const DictationCoordinator& coordinator) { return coordinator.isStopPending(); }
    // The user chose Sign Out and has not signed in since.
    static bool isSignOutRequested(const DictationCoordinator& coordinator) { return coordinator.m_isSignOutRequested; }
    // Bumped by every start that passes its guard.
    static quint64 startGeneration(const DictationCoordinator& coordinator) { return coordinator.m_startGeneration; }
    static std::optional<QUuid> completedSessionID(const DictationCoordinator& coordinator)
    {
        if (!coordinator.m_session || !coordinator.m_session->isCompleted())
            return std::nullopt;
        return coordinator.m_session->id();
    }

    // What a committed transcript starts: the inserting phase, then the insertion of text for the open
    // session into its target.
    static QCoro::Task<> insertCommittedTranscript(DictationCoordinator& coordinator, QString text)
    {
        coordinator.setPhase(DictationPhase::inserting);
        coordinator.m_insertion.isRunning = true;
        return coordinator.insertTranscriptTask(std::move(text),
            coordinator.currentSessionID().value_or(QUuid::createUuid()),
            coordinator.m_session ? coordinator.m_session->insertionTarget() : nullptr);
    }

    // As a recovered transcript leaves it.
    static void setPendingInsertionRetry(
        DictationCoordinator& coordinator, QUuid sessionID, QString text, FocusedInsertionTargetRef target = nullptr)
    {
        coordinator.setPendingInsertionRetry(
            DictationCoordinator::PendingInsertionRetry { sessionID, std::move(text), std::move(target) });
    }

    static std::optional<QString> pendingInsertionRetryText(const DictationCoordinator& coordinator)
    {
        if (!coordinator.m_pendingInsertionRetry)
            return std::nullopt;
        return coordinator.m_pendingInsertionRetry->text;
    }

    // As a finished sign-in leaves it.
    static void setSignedIn(DictationCoordinator& coordinator, ClientMeResponse me)
    {
        coordinator.setMe(std::move(me));
        coordinator.setAuthenticated(true);
        coordinator.setPhase(DictationPhase::ready);
    }

    static void addTranscriptRecord(DictationCoordinator& coordinator, SessionTranscriptRecord record)
    {
        QList<SessionTranscriptRecord> history = coordinator.m_state.transcriptHistory;
        history.prepend(std::move(record));
        coordinator.setTranscriptHistory(std::move(history));
    }
};

} // namespace tessvale
