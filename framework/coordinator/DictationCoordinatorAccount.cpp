#include "coordinator/DictationCoordinator.h"

#include <QPointer>

namespace tessvale {

// Minimal restore: without a stored key the user is signed out. Signing in with a stored key is
// not done here yet.
QCoro::Task<> DictationCoordinator::restoreSavedSession(CancelToken token)
{
    QPointer<DictationCoordinator> self(this);
    std::optional<QString> apiKey;
    try {
        QCoro::Task<std::optional<QString>> reading = m_services.keychain->read(apiKeyAccount, token);
        apiKey = co_await std::move(reading);
    } catch (...) {
    }
    if (!self)
        co_return;
    setPhase(DictationPhase::signedOut);
    setAuthenticated(false);
    setDidFinishSessionBootstrap(true);
    if (!apiKey || apiKey->isEmpty())
        logActivity(QStringLiteral("No stored API key found."));
}

} // namespace tessvale
