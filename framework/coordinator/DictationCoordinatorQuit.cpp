#include "coordinator/DictationCoordinator.h"

#include <utility>

#include <QPointer>

#include "async/Captured.h"
#include "cloud/ClientStreamMessage.h"
#include "coordinator/CoordinatorHelpers.h"

namespace tessvale {

void DictationCoordinator::endInsertion()
{
    m_insertion.isRunning = false;
    for (OneShot<>& waiter : std::exchange(m_insertion.endWaiters, {}))
        waiter.resolve();
}

QCoro::Task<> DictationCoordinator::prepareToQuit()
{
    QPointer<DictationCoordinator> self(this);
    m_isQuitting = true;
    logActivity(QStringLiteral("Preparing to quit."));
    // A paste not yet sent restores the clipboard at once; one already sent restores it once the
    // target has fetched the text.
    m_insertion.cancel.cancel();
    const bool wasLive = isLivePhase();
    QCoro::Task<> cancelling = cancelSessionOnService(QStringLiteral("before quitting"));
    co_await std::move(cancelling);
    if (!self)
        co_return;

    QCoro::Task<> disconnecting = disconnectSessionTransport();
    co_await std::move(disconnecting);
    if (!self)
        co_return;
    if (wasLive && isLivePhase())
        setPhase(m_state.isAuthenticated ? DictationPhase::ready : DictationPhase::signedOut);

    while (m_insertion.isRunning) {
        OneShot<> ended;
        m_insertion.endWaiters.append(ended);
        bool coordinatorGone = false;
        try {
            co_await ended;
        } catch (...) {
            // Failed only by the destructor: nothing of this object may be touched any more.
            coordinatorGone = true;
        }
        if (coordinatorGone || !self)
            co_return;
    }
}

QCoro::Task<> DictationCoordinator::cancelSessionOnService(QString occasion)
{
    QPointer<DictationCoordinator> self(this);
    const bool wasLive = isLivePhase();
    // The microphone first: a service that does not answer must not keep it open.
    stopCapture();
    // A session the service has not finished is cancelled, so it does not deliver a transcript later.
    // A session still waiting for the HUD has no stream on the service to cancel.
    if (!m_session || !m_session->transport() || !m_session->hasStream() || !wasLive)
        co_return;
    const WebSocketTransport transport = *m_session->transport();
    const QString sessionText = m_session->id().toString(QUuid::WithoutBraces).toUpper();
    QCoro::Task<Captured<void>> sending
        = captured([&] { return transport.send(ClientStreamMessage::cancelSession()); });
    const Captured<void> sent = co_await std::move(sending);
    const std::exception_ptr sendError = sent.error;
    if (!self)
        co_return;
    if (sendError)
        logActivity(QStringLiteral("Failed to cancel session %1 %2: %3")
                        .arg(sessionText, occasion, localizedDescription(sendError)));
    else
        logActivity(QStringLiteral("Cancelled session %1 %2.").arg(sessionText, occasion));
}

} // namespace tessvale
