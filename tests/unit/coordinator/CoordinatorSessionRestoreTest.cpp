#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include <QSignalSpy>

#include "auth/KeychainError.h"
#include "cloud/ClientStreamMessage.h"
#include "cloud/CloudClientError.h"
#include "cloud/CloudTransportError.h"
#include "cloud/ServerStreamMessage.h"
#include "coordinator/CoordinatorHelpers.h"
#include "insertion/TextInsertionTypes.h"
#include "support/auth/InMemorySecretStore.h"
#include "support/coordinator/CoordinatorHarness.h"

using namespace std::chrono_literals;
using namespace tessvale;
using Access = DictationCoordinatorTestAccess;

namespace {

const QString kSavedKey = QStringLiteral("tv_test_savedkey0123456789");

void expectKeyNeverShown(CoordinatorHarness& h)
{
    for (const QString& line : h.activityMessages() + h.breadcrumbs)
        EXPECT_FALSE(line.contains(kSavedKey)) << line.toStdString();
}

// Signed in from the saved key, as at launch.
void restoreSignedIn(CoordinatorHarness& h)
{
    h.storeAPIKey(kSavedKey);
    Access::restoreSavedSession(h.coordinator());
    h.settle();
    ASSERT_TRUE(h.coordinator().isAuthenticated());
}

struct RestoreCase
{
    std::string name;
    std::function<void(CoordinatorHarness&)> arrange;
    DictationPhase phase;
    QString lastError;
    bool keyKept;
    QString logLine;
    QString reportContext;
    int accountRequests;
};

} // namespace

TEST(SessionRestore, EveryOutcomeSettlesTheStateAndFinishesTheBootstrapOnce)
{
    const QString unavailable = CloudClientError::requestFailed(503, "Service unavailable").localizedDescription();
    const QString badRequest = CloudClientError::requestFailed(400, "Bad request").localizedDescription();
    const QString locked
        = KeychainError::unexpectedStatus(SecretStatusCode::interactionNotAllowed).localizedDescription();
    const QString dismissed = KeychainError::unexpectedStatus(SecretStatusCode::userCanceled).localizedDescription();
    const auto store = [](const QString& key) { return [key](CoordinatorHarness& h) { h.storeAPIKey(key); }; };
    const auto failReadWith = [](SecretStatus status) {
        return [status](CoordinatorHarness& h) {
            h.storeAPIKey(kSavedKey);
            h.secrets().failWith(InMemorySecretStore::Call::copyMatching, status);
        };
    };
    const auto answerMeWith = [](std::exception_ptr error) {
        return [error](CoordinatorHarness& h) {
            h.storeAPIKey(kSavedKey);
            h.meAnswer.error = error;
        };
    };
    const auto answerConfigWith = [](std::exception_ptr error) {
        return [error](CoordinatorHarness& h) {
            h.storeAPIKey(kSavedKey);
            h.configAnswer.error = error;
        };
    };
    const QString cleared = QStringLiteral("Stored API key was rejected. Cleared local credentials.");
    const QString context = QStringLiteral("Restoring the authenticated session");
    const std::vector<RestoreCase> cases = {
        { "no key", [](CoordinatorHarness&) {}, DictationPhase::signedOut, "", false, "No stored API key found.", "",
            0 },
        { "empty key", store(""), DictationPhase::signedOut, "", true, "No stored API key found.", "", 0 },
        { "accepted key", store(kSavedKey), DictationPhase::ready, "", true,
            "Recovered authenticated session from the keyring.", "", 1 },
        { "account 401", answerMeWith(errorOf(CloudClientError::requestFailed(401, "Unauthorized"))),
            DictationPhase::signedOut, "", false, cleared, "", 1 },
        { "stream opening refused with 401", answerMeWith(errorOf(CloudTransportError::refusedOpening(401))),
            DictationPhase::signedOut, "", false, cleared, "", 1 },
        { "config 503", answerConfigWith(errorOf(CloudClientError::requestFailed(503, "Service unavailable"))),
            DictationPhase::signedOut, unavailable, true, "Failed to recover session: " + unavailable, context, 1 },
        { "account 400", answerMeWith(errorOf(CloudClientError::requestFailed(400, "Bad request"))),
            DictationPhase::signedOut, badRequest, true, "Failed to recover session: " + badRequest, "", 1 },
        { "locked keyring", failReadWith(SecretStatusCode::interactionNotAllowed), DictationPhase::signedOut, locked,
            true, "Failed to read stored API key: " + locked, "Reading the stored cloud API key", 0 },
        { "dismissed unlock prompt", failReadWith(SecretStatusCode::userCanceled), DictationPhase::signedOut, dismissed,
            true, "Failed to read stored API key: " + dismissed, "", 0 },
    };
    for (const RestoreCase& c : cases) {
        SCOPED_TRACE(c.name);
        CoordinatorHarness h;
        c.arrange(h);
        DictationCoordinator& coordinator = h.coordinator();
        QSignalSpy bootstrapDone(&coordinator, &DictationCoordinator::didFinishSessionBootstrapChanged);

        Access::restoreSavedSession(coordinator);
        h.settle();

        EXPECT_EQ(coordinator.phase(), c.phase);
        EXPECT_EQ(coordinator.isAuthenticated(), c.phase == DictationPhase::ready);
        EXPECT_EQ(coordinator.me().has_value(), c.phase == DictationPhase::ready);
        EXPECT_EQ(coordinator.lastError(), c.lastError);
        EXPECT_EQ(h.storedAPIKey().has_value(), c.keyKept);
        EXPECT_TRUE(h.logged(c.logLine)) << h.activityMessages().join('\n').toStdString();
        EXPECT_EQ(h.reportContexts(), c.reportContext.isEmpty() ? QStringList() : QStringList { c.reportContext });
        EXPECT_EQ(h.cloudCalls.value("me"), c.accountRequests);
        EXPECT_EQ(h.cloudCalls.value("config"), c.accountRequests);
        EXPECT_TRUE(coordinator.didFinishSessionBootstrap());
        EXPECT_EQ(bootstrapDone.count(), 1);
        expectKeyNeverShown(h);
    }
}

TEST(SessionRestore, ASignOutDuringTheAccountRefreshWins)
{
    CoordinatorHarness h;
    h.storeAPIKey(kSavedKey);
    h.meAnswer.error = errorOf(CloudClientError::requestFailed(401, "Unauthorized"));
    h.meAnswer.gate.emplace();
    DictationCoordinator& coordinator = h.coordinator();
    QSignalSpy bootstrapDone(&coordinator, &DictationCoordinator::didFinishSessionBootstrapChanged);
    Access::restoreSavedSession(coordinator);
    h.settle();
    ASSERT_EQ(h.cloudCalls.value("me"), 1);

    coordinator.signOut();
    h.settle();
    h.meAnswer.gate->resolve();
    h.settle();

    // The late 401 neither deletes nor reports anything more; the refresh publishes nothing.
    EXPECT_EQ(coordinator.phase(), DictationPhase::signedOut);
    EXPECT_FALSE(coordinator.isAuthenticated());
    EXPECT_FALSE(coordinator.me().has_value());
    EXPECT_FALSE(coordinator.config().has_value());
    EXPECT_EQ(coordinator.lastError(), "");
    EXPECT_TRUE(h.logged("Ignored an account refresh that finished after the sign-in state changed."));
    EXPECT_FALSE(h.logged("Stored API key was rejected. Cleared local credentials."));
    EXPECT_TRUE(h.reports.isEmpty());
    EXPECT_EQ(bootstrapDone.count(), 1);
    EXPECT_FALSE(h.storedAPIKey().has_value());
}

TEST(SignOut, TearsDownARunningInsertionAndStaysSignedOut)
{
    CoordinatorHarness h;
    restoreSignedIn(h);
    DictationCoordinator& coordinator = h.coordinator();
    h.insertionGate.emplace();
    h.insertionError = errorOf(TextInsertionError(TextInsertionError::unableToRestoreFocus));
    Access::openSession(coordinator, QUuid::createUuid(), h.services().webSocketFactory(QUrl(), kSavedKey));
    QCoro::Task<> inserting = Access::insertCommittedTranscript(coordinator, "hello");
    h.settle();

    coordinator.signOut();
    h.settle();
    EXPECT_EQ(h.transportDisconnects, 1);
    EXPECT_FALSE(Access::sessionID(coordinator).has_value());
    EXPECT_EQ(coordinator.phase(), DictationPhase::signedOut);

    h.insertionGate->resolve();
    h.settle();
    EXPECT_FALSE(coordinator.canRetryFailedInsertion());
    EXPECT_EQ(coordinator.phase(), DictationPhase::signedOut);
    EXPECT_FALSE(coordinator.isAuthenticated());
}

TEST(SignOut, ClearsTheAccountAndSaysWhenTheKeyringKeptTheKey)
{
    const QString keyringLine = "Failed to remove the stored API key: "
        + KeychainError::unexpectedStatus(SecretStatusCode::internalError).localizedDescription();
    for (const bool deletionFails : { false, true }) {
        SCOPED_TRACE(deletionFails ? "deletion fails" : "deletion succeeds");
        CoordinatorHarness h;
        restoreSignedIn(h);
        DictationCoordinator& coordinator = h.coordinator();
        Access::addTranscriptRecord(coordinator, { QUuid::createUuid(), {}, "a", "a" });
        if (deletionFails)
            h.secrets().failWith(InMemorySecretStore::Call::deleteItem, SecretStatusCode::internalError);

        coordinator.signOut();
        h.settle();

        EXPECT_EQ(coordinator.phase(), DictationPhase::signedOut);
        EXPECT_FALSE(coordinator.isAuthenticated());
        EXPECT_FALSE(coordinator.me().has_value());
        EXPECT_TRUE(coordinator.transcriptHistory().isEmpty());
        EXPECT_TRUE(h.logged("Signing out."));
        EXPECT_EQ(h.logged(keyringLine), deletionFails);
        EXPECT_EQ(h.storedAPIKey().has_value(), deletionFails);
        EXPECT_EQ(coordinator.lastError(),
            deletionFails ? "Signed out, but the saved sign-in could not be removed from the keyring. Tessvale may "
                            "sign in again at the next launch."
                          : "");
        EXPECT_TRUE(h.reports.isEmpty());
        // The key read at the restore went with the sign-out, and one the keyring kept is not the
        // user's any more: a start has none.
        h.useScriptedStreams();
        h.useFakeRecorder();
        coordinator.startPushToTalk();
        h.settle();
        EXPECT_EQ(h.transportsMade, 0);
        if (!deletionFails) {
            EXPECT_EQ(coordinator.lastError(), CloudClientError::missingAPIKey().localizedDescription());
        }
    }
}

// Sign Out does not wait for the keyring: the microphone closes as it is chosen, the dictation is
// cancelled on the service, the user is shown signed out, and no shortcut starts anything, while
// the keyring's deletion is still waiting (or, pressed during it, the start's own keyring read).
TEST(SignOut, EndsTheDictationAndStartsNoMoreWhileTheKeyringDoesNotAnswer)
{
    for (const bool keyKept : { true, false }) {
        SCOPED_TRACE(keyKept ? "dictating on the key kept since the restore" : "a start reading the keyring");
        CoordinatorHarness h;
        h.prepareDictation();
        DictationCoordinator& coordinator = h.coordinator();
        if (keyKept) {
            restoreSignedIn(h);
            h.openDictation();
            ASSERT_TRUE(h.fakeRecorder.running);
            h.secrets().hold();
        } else {
            Access::setSignedIn(coordinator, CoordinatorHarness::sampleMe());
            h.secrets().hold();
            coordinator.startPushToTalk();
            h.settle();
            ASSERT_EQ(h.secrets().waitingCalls(), 1u);
        }

        coordinator.signOut();
        EXPECT_FALSE(h.fakeRecorder.running);
        h.settle();
        EXPECT_EQ(coordinator.phase(), DictationPhase::signedOut);
        EXPECT_FALSE(coordinator.isAuthenticated());
        EXPECT_FALSE(coordinator.me().has_value());
        EXPECT_TRUE(Access::sessionID(coordinator) == std::nullopt);
        if (keyKept) {
            EXPECT_EQ(h.stream().cases().last(), ClientStreamMessage::Case::cancelSession);
            EXPECT_TRUE(h.stream().disconnected);
        }

        const int transports = h.transportsMade;
        const int starts = h.fakeRecorder.starts;
        const std::size_t keyringCalls = h.secrets().calls().size();
        coordinator.startPushToTalk();
        h.settle();
        coordinator.stopPushToTalk();
        coordinator.toggleHandsFree();
        h.settle();
        h.secrets().release();
        h.settle();
        coordinator.startPushToTalk();
        h.settle();
        EXPECT_EQ(h.transportsMade, transports);
        EXPECT_EQ(h.fakeRecorder.starts, starts);
        EXPECT_FALSE(h.fakeRecorder.running);
        EXPECT_EQ(h.secrets().calls().size(), keyringCalls);
        EXPECT_FALSE(h.storedAPIKey().has_value());
        EXPECT_FALSE(coordinator.isAuthenticated());
    }
}

TEST(SessionRestore, DictationsAfterTheRestoreDoNotNeedTheKeyring)
{
    CoordinatorHarness h;
    h.prepareDictation();
    restoreSignedIn(h);
    DictationCoordinator& coordinator = h.coordinator();
    h.secrets().failWith(InMemorySecretStore::Call::copyMatching, SecretStatusCode::interactionNotAllowed);
    for (const char* run : { "first", "second" }) {
        SCOPED_TRACE(run);
        const QUuid id = h.openDictation();
        EXPECT_EQ(coordinator.phase(), DictationPhase::recording) << coordinator.lastError().toStdString();
        coordinator.stopPushToTalk();
        h.advance(175ms);
        h.deliver(ServerStreamMessage::sessionCompleted(id));
        h.stream().terminate();
        h.settle();
    }
}

TEST(SessionRestore, ABrowserSignInDuringTheAccountRefreshWins)
{
    CoordinatorHarness h;
    h.storeAPIKey(kSavedKey);
    h.meAnswer.error = errorOf(CloudClientError::requestFailed(401, "Unauthorized"));
    h.meAnswer.gate.emplace();
    DictationCoordinator& coordinator = h.coordinator();
    Access::restoreSavedSession(coordinator);
    h.settle();

    coordinator.beginSignIn();
    h.settle();
    QUrl callback = nativeAuthRedirectURI();
    callback.setQuery("code=abc&state=" + h.lastStart.value(4));
    coordinator.handleExternalAuthCallback(callback);
    h.settle();
    ASSERT_TRUE(coordinator.isAuthenticated());

    // The old key's late 401 must not delete the new key or sign the user out.
    h.meAnswer.gate->resolve();
    h.settle();
    EXPECT_TRUE(coordinator.isAuthenticated());
    EXPECT_EQ(coordinator.phase(), DictationPhase::ready);
    EXPECT_EQ(h.storedAPIKey(), CoordinatorHarness::sampleToken().apiKey);
    EXPECT_FALSE(h.logged("Stored API key was rejected. Cleared local credentials."));
    EXPECT_TRUE(coordinator.didFinishSessionBootstrap());
}

TEST(SessionRestore, ALateAnswerLeavesALiveDictationAloneOrEndsItBeforeSigningOut)
{
    const std::vector<std::pair<std::string, std::exception_ptr>> answers = {
        { "accepted", nullptr },
        { "unavailable", errorOf(CloudClientError::requestFailed(503, "Service unavailable")) },
        { "rejected", errorOf(CloudClientError::requestFailed(401, "Unauthorized")) },
    };
    for (const auto& [name, error] : answers) {
        SCOPED_TRACE(name);
        CoordinatorHarness h;
        h.prepareDictation();
        // The restore's account answer is held back; the dictation's own fetch is answered at once.
        h.meAnswer.error = error;
        OneShot<> late = h.meAnswer.gate.emplace();
        Access::restoreSavedSession(h.coordinator());
        h.settle();
        h.meAnswer.error = nullptr;
        h.meAnswer.gate.reset();
        h.openDictation();
        DictationCoordinator& coordinator = h.coordinator();
        ASSERT_EQ(coordinator.phase(), DictationPhase::recording);

        late.resolve();
        h.settle();
        EXPECT_TRUE(coordinator.didFinishSessionBootstrap());
        if (name != "rejected") {
            EXPECT_EQ(coordinator.phase(), DictationPhase::recording);
            EXPECT_TRUE(coordinator.isAuthenticated());
            EXPECT_TRUE(coordinator.lastError().isEmpty());
            EXPECT_TRUE(h.fakeRecorder.running);
            coordinator.stopPushToTalk();
            h.settle();
            h.advance(std::chrono::milliseconds(175));
            EXPECT_EQ(h.stream().count(ClientStreamMessage::Case::stopSession), 1);
            continue;
        }
        // Ended first: microphone off, the session cancelled on the service and closed; then signed out.
        EXPECT_FALSE(h.fakeRecorder.running);
        EXPECT_EQ(h.stream().cases().last(), ClientStreamMessage::Case::cancelSession);
        EXPECT_TRUE(h.stream().disconnected);
        EXPECT_EQ(coordinator.phase(), DictationPhase::signedOut);
        EXPECT_FALSE(coordinator.isAuthenticated());
        EXPECT_FALSE(h.storedAPIKey().has_value());
    }
}

// The service commits the cancelled dictation while its stream closes after Sign Out: the text is
// not inserted, and the user stays signed out.
TEST(SignOut, ACommitWhileTheStreamClosesIsNotInserted)
{
    CoordinatorHarness h;
    h.prepareDictation();
    restoreSignedIn(h);
    DictationCoordinator& coordinator = h.coordinator();
    const QUuid id = h.openDictation();
    OneShot<> closed = h.stream().disconnectGate.emplace();
    coordinator.signOut();
    h.settle();
    ASSERT_EQ(h.stream().cases().last(), ClientStreamMessage::Case::cancelSession);

    h.deliver(ServerStreamMessage::transcriptCommitted({ id, QStringLiteral("Hello.") }));
    closed.resolve();
    h.settle();
    EXPECT_TRUE(h.insertions.isEmpty());
    EXPECT_EQ(coordinator.phase(), DictationPhase::signedOut);
    EXPECT_TRUE(coordinator.transcriptHistory().isEmpty());
}
