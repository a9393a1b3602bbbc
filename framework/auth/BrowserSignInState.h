#pragma once

#include <QUrl>
#include <QUuid>

namespace tessvale {

// An open browser sign-in, as the windows show it.
class BrowserSignInState
{
public:
    BrowserSignInState(QUuid attemptID, QUrl authorizationURL, bool usesLoopbackCallback);

    // The service's identifier of the sign-in attempt.
    const QUuid& attemptID() const { return m_attemptID; }
    // The page to open in the browser.
    const QUrl& authorizationURL() const { return m_authorizationURL; }
    // Whether the browser returns through the loopback listener rather than the URL scheme.
    bool usesLoopbackCallback() const { return m_usesLoopbackCallback; }

    bool operator==(const BrowserSignInState& other) const;

private:
    QUuid m_attemptID;
    QUrl m_authorizationURL;
    bool m_usesLoopbackCallback;
};

} // namespace tessvale
