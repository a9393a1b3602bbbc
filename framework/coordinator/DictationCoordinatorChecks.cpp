#include "coordinator/DictationCoordinator.h"

#include <QPointer>

#include "settings/AppSettings.h"

namespace tessvale {

// Minimal stand-in until the update check lands: asks the service once and publishes nothing.
QCoro::Task<> DictationCoordinator::refreshAppUpdateState()
{
    const std::optional<QUrl> baseURL = m_settings->clientAPIBaseURL();
    if (!baseURL)
        co_return;
    try {
        QCoro::Task<ClientUpdateResponse> checking = m_services.cloud.fetchMacOSUpdate(*baseURL, appVersion());
        co_await std::move(checking);
    } catch (...) {
    }
}

} // namespace tessvale
