#include "auth/BrowserSignInState.h"

#include <utility>

namespace tessvale {

BrowserSignInState::BrowserSignInState(QUuid attemptID, QUrl authorizationURL, bool usesLoopbackCallback)
    : m_attemptID(attemptID)
    , m_authorizationURL(std::move(authorizationURL))
    , m_usesLoopbackCallback(usesLoopbackCallback)
{
}

bool BrowserSignInState::operator==(const BrowserSignInState& other) const
{
    return m_attemptID == other.m_attemptID && m_authorizationURL == other.m_authorizationURL
        && m_usesLoopbackCallback == other.m_usesLoopbackCallback;
}

} // namespace tessvale
