#include "coordinator/DictationCoordinator.h"

#include <QPointer>

namespace tessvale {

std::optional<QUuid> DictationCoordinator::currentSessionID() const
{
    if (!m_session)
        return std::nullopt;
    return m_session->id();
}

QCoro::Task<> DictationCoordinator::disconnectSessionTransport()
{
    QPointer<DictationCoordinator> self(this);
    const std::optional<QUuid> closingSessionID = currentSessionID();
    m_closingSessions.closing = closingSessionID;
    // The microphone closes first; what it still held is not sent.
    m_services.recorder.stop();
    m_start.reset();
    setAudioLevel(0);
    setTriggerMode(std::nullopt);
    std::optional<WebSocketTransport> transport;
    if (m_session) {
        m_session->halt();
        transport = m_session->transport();
    }
    if (transport) {
        // A copy: the session may be replaced while the close runs.
        QCoro::Task<> closing = transport->disconnect();
        co_await std::move(closing);
        if (!self)
            co_return;
        // A newer session that began during the close keeps its own state.
        if (currentSessionID() != closingSessionID) {
            logActivity(QStringLiteral("Disconnected session transport."));
            co_return;
        }
    }
    m_session.reset();
    m_closingSessions.closing.reset();
    if (closingSessionID)
        m_closingSessions.closed = closingSessionID;
    logActivity(QStringLiteral("Disconnected session transport."));
}

QCoro::Task<> DictationCoordinator::finishSessionIfIdle(std::optional<QUuid> sessionID)
{
    if (m_insertion.isRunning || (sessionID && currentSessionID() != sessionID))
        co_return;
    QPointer<DictationCoordinator> self(this);
    QCoro::Task<> disconnecting = disconnectSessionTransport();
    co_await std::move(disconnecting);
    // A newer session that began during the close owns the phase.
    if (!self || m_session || m_start || m_state.phase == DictationPhase::error)
        co_return;
    setPhase(m_state.isAuthenticated ? DictationPhase::ready : DictationPhase::signedOut);
}

} // namespace tessvale
