#include "coordinator/DictationPresentation.h"

#include "cloud/CloudClientError.h"
#include "coordinator/CoordinatorHelpers.h"

namespace tessvale {

namespace {

const QString kRejectedKeyPrefix = QStringLiteral("Cloud request failed (401)");

} // namespace

QString DictationPresentation::menuBarSymbolName() const
{
    switch (phase) {
    case DictationPhase::signedOut:
        return QStringLiteral("person.crop.circle.badge.xmark");
    case DictationPhase::ready:
        return lastError.isEmpty() ? QStringLiteral("mic") : QStringLiteral("exclamationmark.triangle.fill");
    case DictationPhase::starting:
    case DictationPhase::recording:
        return QStringLiteral("record.circle.fill");
    case DictationPhase::finalizing:
        return QStringLiteral("waveform");
    case DictationPhase::postProcessing:
        return QStringLiteral("sparkles");
    case DictationPhase::inserting:
        return QStringLiteral("text.cursor");
    case DictationPhase::error:
        return QStringLiteral("exclamationmark.triangle.fill");
    }
    return {};
}

QString DictationPresentation::statusTitle() const
{
    switch (phase) {
    case DictationPhase::signedOut:
        return QStringLiteral("Sign in required");
    case DictationPhase::ready:
        return lastError.isEmpty() ? QStringLiteral("Ready") : QStringLiteral("Ready with error");
    case DictationPhase::starting:
    case DictationPhase::recording:
        return QStringLiteral("Recording");
    case DictationPhase::finalizing:
        return QStringLiteral("Finalizing speech");
    case DictationPhase::postProcessing:
        return QStringLiteral("Cleaning transcript");
    case DictationPhase::inserting:
        return QStringLiteral("Inserting text");
    case DictationPhase::error:
        return QStringLiteral("Error");
    }
    return {};
}

QString DictationPresentation::displayErrorText() const
{
    if (lastError.isEmpty())
        return {};
    if (!isAuthenticated && lastError.startsWith(kRejectedKeyPrefix))
        return QStringLiteral("Your saved session expired. Sign in again to reconnect this computer.");
    // Signed out there is no key to be found: being signed out is the whole reason.
    if (!isAuthenticated && lastError == CloudClientError::missingAPIKey().localizedDescription())
        return QStringLiteral("You are signed out.");
    return lastError;
}

QString DictationPresentation::detailText() const
{
    if (!lastError.isEmpty())
        return displayErrorText();
    if (browserSignIn) {
        return browserSignIn->usesLoopbackCallback()
            ? QStringLiteral("Waiting for the browser to return to Tessvale")
            : QStringLiteral("Finish sign-in in your browser to connect this computer");
    }
    // Blanks count here: the line shows what the service sent so far, as it stands.
    if (!partialTranscript.isEmpty() && phase == DictationPhase::recording)
        return partialTranscript;
    if (me)
        return me->user.email + QStringLiteral(" on ") + me->device.name;
    return QStringLiteral("Cloud URL: ") + cloudBaseURL;
}

std::optional<QString> DictationPresentation::latestTranscriptText() const
{
    return trimmedTranscriptText(finalTranscript, transcriptHistory);
}

bool DictationPresentation::shouldShowHUD() const
{
    return isDictationPhase(phase) || showsFailure;
}

QString DictationPresentation::hudTitle() const
{
    switch (phase) {
    case DictationPhase::signedOut:
        return QStringLiteral("Sign In Required");
    case DictationPhase::ready:
        return QStringLiteral("Ready");
    case DictationPhase::starting:
    case DictationPhase::recording:
        return QStringLiteral("Dictating");
    case DictationPhase::finalizing:
        return QStringLiteral("Finalizing");
    case DictationPhase::postProcessing:
        return QStringLiteral("Cleaning");
    case DictationPhase::inserting:
        return QStringLiteral("Inserting");
    case DictationPhase::error:
        return QStringLiteral("Error");
    }
    return {};
}

QString DictationPresentation::hudSubtitle() const
{
    if (phase == DictationPhase::recording) {
        QString partial = partialTranscript.trimmed();
        if (!partial.isEmpty())
            return partial;
    }
    if (phase == DictationPhase::postProcessing || phase == DictationPhase::inserting) {
        QString final = finalTranscript.trimmed();
        if (!final.isEmpty())
            return final;
    }
    switch (phase) {
    case DictationPhase::starting:
    case DictationPhase::recording:
        return QStringLiteral("Listening for speech");
    case DictationPhase::finalizing:
        return QStringLiteral("Wrapping up the audio stream");
    case DictationPhase::postProcessing:
        return QStringLiteral("Polishing the transcript");
    case DictationPhase::inserting:
        return QStringLiteral("Sending text to the focused app");
    case DictationPhase::signedOut:
    case DictationPhase::ready:
    case DictationPhase::error:
        return detailText();
    }
    return {};
}

std::optional<ClientUpdateResponse> DictationPresentation::availableUpdate() const
{
    if (appUpdateState.updateCase() != AppUpdateState::Case::available)
        return std::nullopt;
    return appUpdateState.update();
}

} // namespace tessvale
