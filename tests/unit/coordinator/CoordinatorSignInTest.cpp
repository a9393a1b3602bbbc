#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include <QUrlQuery>

#include "auth/KeychainError.h"
#include "auth/NativeAuthChallenge.h"
#include "cloud/CloudClientError.h"
#include "coordinator/CoordinatorHelpers.h"
#include "support/auth/InMemorySecretStore.h"
#include "support/coordinator/CoordinatorHarness.h"

using namespace tessvale;
using Access = DictationCoordinatorTestAccess;

namespace {

const QString kSignedInKey = QStringLiteral("tv_test_signedinkey");

void startSignIn(CoordinatorHarness& h)
{
    h.coordinator().beginSignIn();
    h.settle();
}

QString sentState(const CoordinatorHarness& h)
{
    return h.lastStart.value(4);
}

// The redirect URI (or path) with the given query, as the browser hands it back.
void callBack(CoordinatorHarness& h, const QString& query, const QString& path = "/callback")
{
    QUrl url(nativeAuthRedirectURI());
    url.setPath(path);
    url.setQuery(query);
    h.coordinator().handleExternalAuthCallback(url);
    h.settle();
}

void callBackWith(CoordinatorHarness& h, const QString& code, const QString& state)
{
    callBack(h, "code=" + code + "&state=" + state);
}

void signInCompletely(CoordinatorHarness& h)
{
    startSignIn(h);
    callBackWith(h, "abc", sentState(h));
}

struct SignInCase
{
    std::string name;
    std::function<void(CoordinatorHarness&)> act;
    QString lastError;
    DictationPhase phase;
    QString logLine;
    QString reportContext;
    bool attemptOpen;
    int serverCancels;
};

} // namespace

TEST(BrowserSignIn, RoundTripFromTheStartToASignedInAccount)
{
    CoordinatorHarness h;
    DictationCoordinator& coordinator = h.coordinator();
    startSignIn(h);

    const NativeAuthStartResponse start = CoordinatorHarness::sampleStart();
    EXPECT_EQ(h.openedURLs, QList<QUrl> { start.authorizationURL });
    ASSERT_TRUE(coordinator.browserSignIn().has_value());
    EXPECT_EQ(coordinator.browserSignIn()->attemptID(), start.attemptID);
    EXPECT_FALSE(coordinator.browserSignIn()->usesLoopbackCallback());
    EXPECT_EQ(coordinator.phase(), DictationPhase::signedOut);
    EXPECT_TRUE(h.logged("Opened browser sign-in for Desk."));
    EXPECT_EQ(h.lastStart.value(0), "Desk");
    EXPECT_EQ(h.lastStart.value(1), DictationCoordinator::appVersion());
    EXPECT_EQ(h.lastStart.value(3), nativeAuthRedirectURI().toString());

    // An open attempt is only shown again.
    startSignIn(h);
    EXPECT_EQ(h.cloudCalls.value("start"), 1);
    EXPECT_EQ(h.openedURLs.size(), 2);
    EXPECT_TRUE(h.logged("Reopened browser sign-in."));

    // An empty code is still a code.
    callBackWith(h, "", sentState(h));
    ASSERT_EQ(h.lastExchange.size(), 3);
    EXPECT_EQ(h.lastExchange[0], "");
    EXPECT_EQ(NativeAuthChallenge::pkceCodeChallenge(h.lastExchange[1]), h.lastStart.value(2));
    EXPECT_EQ(h.lastExchange[2], nativeAuthRedirectURI().toString());
    EXPECT_EQ(h.storedAPIKey(), kSignedInKey);
    EXPECT_EQ(coordinator.me(), CoordinatorHarness::sampleMe());
    EXPECT_TRUE(coordinator.config().has_value());
    EXPECT_TRUE(coordinator.isAuthenticated());
    EXPECT_EQ(coordinator.phase(), DictationPhase::ready);
    EXPECT_EQ(coordinator.lastError(), "");
    EXPECT_FALSE(coordinator.browserSignIn().has_value());
    EXPECT_EQ(h.cloudCalls.value("update"), 1);
    EXPECT_TRUE(h.logged("Browser sign-in completed for user@example.com."));
    for (const QString& line : h.activityMessages() + h.breadcrumbs)
        EXPECT_FALSE(line.contains(kSignedInKey)) << line.toStdString();
}

TEST(BrowserSignIn, EachFailureLeavesTheStateItsRowGives)
{
    const QString unavailable = CloudClientError::requestFailed(503, "Service unavailable").localizedDescription();
    const QString badRequest = CloudClientError::requestFailed(400, "Bad request").localizedDescription();
    const QString serverError = CloudClientError::requestFailed(500, "Server error").localizedDescription();
    const QString keyring = KeychainError::unexpectedStatus(SecretStatusCode::internalError).localizedDescription();
    const QString missing = "Browser sign-in did not return the expected authorization details. Try signing in again.";
    const QString missingLog = "Browser sign-in callback was missing the code or state.";
    const QString mismatch = "Browser sign-in response did not match the active sign-in attempt. Try signing in again.";
    const QString mismatchLog = "Ignored native auth callback with mismatched state.";
    const auto startFailingWith = [](int status, const QString& message) {
        return [status, message](CoordinatorHarness& h) {
            h.startAnswer.error = errorOf(CloudClientError::requestFailed(status, message));
            startSignIn(h);
        };
    };
    const auto callBackWithQuery = [](const QString& query, const QString& path = "/callback") {
        return [query, path](CoordinatorHarness& h) {
            startSignIn(h);
            callBack(h, QString(query).replace("STATE", sentState(h)), path);
        };
    };
    using P = DictationPhase;
    const std::vector<SignInCase> cases = {
        { "endpoint configuration absent",
            [](CoordinatorHarness& h) {
                qputenv("TESSVALE_REST_ORIGIN", "https://bad host");
                startSignIn(h);
                qunsetenv("TESSVALE_REST_ORIGIN");
            },
            "The configured cloud base URL is invalid.", P::error, "", "", false, 0 },
        { "start already running",
            [](CoordinatorHarness& h) {
                h.startAnswer.gate.emplace();
                startSignIn(h);
                startSignIn(h);
                EXPECT_EQ(h.cloudCalls.value("start"), 1);
                h.startAnswer.gate->resolve();
                h.settle();
            },
            "", P::signedOut, "Ignored browser sign-in start because an attempt is already starting.", "", true, 0 },
        { "start fails with 503", startFailingWith(503, "Service unavailable"), unavailable, P::error,
            "Browser sign-in failed to start: " + unavailable, "Starting browser sign-in", false, 0 },
        { "start fails with 400", startFailingWith(400, "Bad request"), badRequest, P::error,
            "Browser sign-in failed to start: " + badRequest, "", false, 0 },
        { "callback for another path", callBackWithQuery("code=abc&state=STATE", "/elsewhere"), "", P::signedOut,
            "Ignored native auth callback that did not match the active redirect URI.", "", true, 0 },
        { "code missing", callBackWithQuery("state=STATE"), missing, P::signedOut, missingLog, "", false, 1 },
        { "code without a value", callBackWithQuery("code&state=STATE"), missing, P::signedOut, missingLog, "", false,
            1 },
        { "state missing", callBackWithQuery("code=abc"), missing, P::signedOut, missingLog, "", false, 1 },
        { "state mismatch", callBackWithQuery("code=abc&state=other"), mismatch, P::signedOut, mismatchLog, "", false,
            1 },
        { "state differs in case only",
            [](CoordinatorHarness& h) {
                startSignIn(h);
                callBackWith(h, "abc", sentState(h).toUpper());
            },
            mismatch, P::signedOut, mismatchLog, "", false, 1 },
        { "exchange fails",
            [](CoordinatorHarness& h) {
                h.tokenAnswer.error = errorOf(CloudClientError::requestFailed(500, "Server error"));
                signInCompletely(h);
            },
            serverError, P::error, "Browser sign-in failed: " + serverError, "Completing browser sign-in", false, 0 },
        { "keychain save fails",
            [](CoordinatorHarness& h) {
                h.secrets().failWith(InMemorySecretStore::Call::add, SecretStatusCode::internalError);
                signInCompletely(h);
            },
            keyring, P::error, "Browser sign-in failed: " + keyring, "Completing browser sign-in", false, 0 },
        { "server-side cancel fails",
            [](CoordinatorHarness& h) {
                h.cancelAnswer.error = errorOf(CloudClientError::requestFailed(500, "Server error"));
                h.cancelAnswer.gate.emplace();
                startSignIn(h);
                h.coordinator().cancelSignIn();
                // Gone at once, before the server answers.
                EXPECT_FALSE(h.coordinator().browserSignIn().has_value());
                h.cancelAnswer.gate->resolve();
                h.settle();
            },
            "", P::signedOut, "Failed to cancel browser sign-in on the server: " + serverError, "", false, 1 },
    };
    for (const SignInCase& c : cases) {
        SCOPED_TRACE(c.name);
        CoordinatorHarness h;
        c.act(h);
        DictationCoordinator& coordinator = h.coordinator();
        EXPECT_EQ(coordinator.lastError(), c.lastError);
        EXPECT_EQ(coordinator.phase(), c.phase);
        EXPECT_TRUE(c.logLine.isEmpty() || h.logged(c.logLine)) << h.activityMessages().join('\n').toStdString();
        EXPECT_EQ(h.reportContexts(), c.reportContext.isEmpty() ? QStringList() : QStringList { c.reportContext });
        EXPECT_EQ(coordinator.browserSignIn().has_value(), c.attemptOpen);
        EXPECT_EQ(h.cloudCalls.value("cancel"), c.serverCancels);
        EXPECT_EQ(
            h.logged("Canceled invalid browser sign-in attempt."), c.logLine == missingLog || c.logLine == mismatchLog);
        EXPECT_FALSE(coordinator.isAuthenticated());
        EXPECT_FALSE(h.storedAPIKey().has_value());
    }
}

TEST(BrowserSignIn, NeverOverwritesALiveDictationOrShowsASignedInUserAsSignedOut)
{
    const std::vector<std::pair<std::string, std::function<void(CoordinatorHarness&)>>> paths = {
        { "start", [](CoordinatorHarness& h) { startSignIn(h); } },
        { "start failure",
            [](CoordinatorHarness& h) {
                h.startAnswer.error = errorOf(CloudClientError::requestFailed(503, "Service unavailable"));
                startSignIn(h);
            } },
        { "invalid callback",
            [](CoordinatorHarness& h) {
                startSignIn(h);
                callBackWith(h, "abc", "other");
            } },
        { "exchange failure",
            [](CoordinatorHarness& h) {
                h.tokenAnswer.error = errorOf(CloudClientError::requestFailed(500, "Server error"));
                signInCompletely(h);
            } },
        { "success", [](CoordinatorHarness& h) { signInCompletely(h); } },
    };
    for (const auto& [name, path] : paths) {
        SCOPED_TRACE(name);
        CoordinatorHarness h;
        Access::setPhase(h.coordinator(), DictationPhase::recording);
        path(h);
        EXPECT_EQ(h.coordinator().phase(), DictationPhase::recording);
    }

    // Signed in already: a new attempt's start and a bad callback leave the phase as it is.
    CoordinatorHarness h;
    signInCompletely(h);
    ASSERT_EQ(h.coordinator().phase(), DictationPhase::ready);
    startSignIn(h);
    callBackWith(h, "abc", "other");
    EXPECT_EQ(h.coordinator().phase(), DictationPhase::ready);
    EXPECT_TRUE(h.coordinator().isAuthenticated());
}

TEST(BrowserSignIn, AnExchangeWhoseAttemptWasClosedSavesNothing)
{
    const std::vector<std::pair<std::string, std::function<void(DictationCoordinator&)>>> closers = {
        { "cancelled", [](DictationCoordinator& c) { c.cancelSignIn(); } },
        { "signed out", [](DictationCoordinator& c) { c.signOut(); } },
    };
    for (const bool duringSave : { false, true }) {
        for (const auto& [name, close] : closers) {
            SCOPED_TRACE(name + (duringSave ? " during the save" : " during the exchange"));
            CoordinatorHarness h;
            if (duringSave)
                h.secrets().hold();
            else
                h.tokenAnswer.gate.emplace();
            signInCompletely(h);
            ASSERT_EQ(h.cloudCalls.value("token"), 1);

            close(h.coordinator());
            h.settle();
            if (duringSave)
                h.secrets().release();
            else
                h.tokenAnswer.gate->resolve();
            h.settle();

            // Closed before the save: the key never reaches the keyring; during it: it is taken out again.
            const auto saves = std::count_if(h.secrets().calls().begin(), h.secrets().calls().end(),
                [](const InMemorySecretStore::Record& r) { return r.call == InMemorySecretStore::Call::add; });
            EXPECT_EQ(saves, duringSave ? 1 : 0);
            EXPECT_FALSE(h.storedAPIKey().has_value());
            EXPECT_FALSE(h.coordinator().isAuthenticated());
            EXPECT_FALSE(h.coordinator().me().has_value());
            EXPECT_EQ(h.coordinator().phase(), DictationPhase::signedOut);
            EXPECT_TRUE(h.logged("Ignored a browser sign-in that finished after its attempt was closed."));
            EXPECT_EQ(h.cloudCalls.value("update"), 0);
        }
    }
}

TEST(BrowserSignIn, ACallbackThatIsNotOursChangesNothing)
{
    // A repeated callback while the code is exchanged does not spend it again.
    {
        CoordinatorHarness h;
        h.tokenAnswer.gate.emplace();
        signInCompletely(h);
        callBackWith(h, "abc", sentState(h));
        EXPECT_EQ(h.cloudCalls.value("token"), 1);
        EXPECT_TRUE(h.logged("Ignored native auth callback for a sign-in that is already completing."));
        h.tokenAnswer.gate->resolve();
        h.settle();
        EXPECT_TRUE(h.coordinator().isAuthenticated());
        EXPECT_EQ(h.storedAPIKey(), kSignedInKey);
    }
    // No attempt open (none yet, one still starting, or signed in already): silent.
    {
        CoordinatorHarness h;
        callBackWith(h, "abc", "state");
        EXPECT_TRUE(h.activityMessages().isEmpty());
        h.startAnswer.gate.emplace();
        startSignIn(h);
        const QStringList logBefore = h.activityMessages();
        callBackWith(h, "abc", "state");
        EXPECT_EQ(h.activityMessages(), logBefore);
        h.startAnswer.gate->resolve();
        h.settle();
        callBackWith(h, "abc", sentState(h));
        ASSERT_TRUE(h.coordinator().isAuthenticated());

        const QStringList signedInLog = h.activityMessages();
        callBackWith(h, "abc", "other");
        callBackWith(h, "", "");
        EXPECT_EQ(h.activityMessages(), signedInLog);
        EXPECT_EQ(h.coordinator().phase(), DictationPhase::ready);
        EXPECT_EQ(h.coordinator().lastError(), "");
        EXPECT_EQ(h.cloudCalls.value("token"), 1);
    }
}

// A browser that cannot be opened fails the sign-in at once, pointing to the address to paste into one;
// the attempt stays open for that, and a page that opens later clears the failure.
TEST(BrowserSignIn, ABrowserThatCannotBeOpenedIsAnError)
{
    CoordinatorHarness h;
    DictationCoordinator& coordinator = h.coordinator();
    h.urlOpenFailure = QStringLiteral("xdg-open exited with status 4");
    startSignIn(h);

    EXPECT_EQ(coordinator.lastError(),
        "The web browser could not be opened (xdg-open exited with status 4). To sign in, copy the sign-in address "
        "from the setup window into a web browser.");
    EXPECT_EQ(coordinator.phase(), DictationPhase::error);
    EXPECT_TRUE(h.logged("Could not open the browser for sign-in: xdg-open exited with status 4"));
    ASSERT_TRUE(coordinator.browserSignIn().has_value());

    h.urlOpenFailure.reset();
    coordinator.reopenBrowserSignIn();
    h.settle();
    EXPECT_EQ(coordinator.lastError(), "");
    EXPECT_EQ(coordinator.phase(), DictationPhase::signedOut);

    h.urlOpenFailure = QStringLiteral("xdg-open exited with status 4");
    coordinator.reopenBrowserSignIn();
    h.settle();
    EXPECT_EQ(coordinator.phase(), DictationPhase::error);
    callBackWith(h, "abc", sentState(h));
    EXPECT_TRUE(coordinator.isAuthenticated());
    EXPECT_EQ(coordinator.lastError(), "");
    EXPECT_EQ(coordinator.phase(), DictationPhase::ready);
}
