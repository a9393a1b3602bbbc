#pragma once

#include <optional>

#include <QList>
#include <QString>

#include "auth/BrowserSignInState.h"
#include "cloud/CloudRestResponses.h"
#include "coordinator/CoordinatorTypes.h"

namespace tessvale {

// The coordinator's state as the menu, the windows and the HUD show it: the state they depend on,
// and the texts made from it. The symbol names are the system's own; the application maps them to
// its icons.
struct DictationPresentation
{
    DictationPhase phase = DictationPhase::signedOut;
    QString lastError;
    bool isAuthenticated = false;
    std::optional<BrowserSignInState> browserSignIn;
    QString partialTranscript;
    QString finalTranscript;
    // Newest first.
    QList<SessionTranscriptRecord> transcriptHistory;
    std::optional<ClientMeResponse> me;
    // The settings' cloudBaseURL, as stored.
    QString cloudBaseURL;
    bool hasPendingInsertionRetry = false;
    AppUpdateState appUpdateState;
    // A dictation ended by a failure and the HUD still tells why.
    bool showsFailure = false;

    QString menuBarSymbolName() const;
    QString statusTitle() const;
    // The last error, except that signed out a rejected key reads as an expired session and a
    // missing key as being signed out.
    QString displayErrorText() const;
    // The one explanatory line: the error, an open sign-in, the live partial transcript, the account,
    // or the cloud URL, whichever comes first.
    QString detailText() const;
    bool canRetryFailedInsertion() const { return hasPendingInsertionRetry; }
    std::optional<QString> latestTranscriptText() const;
    bool shouldShowHUD() const;
    QString hudTitle() const;
    QString hudSubtitle() const;
    // Present only while an update is available.
    std::optional<ClientUpdateResponse> availableUpdate() const;
};

} // namespace tessvale
