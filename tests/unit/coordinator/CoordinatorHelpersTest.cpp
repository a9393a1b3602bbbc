#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include <QVariantList>
#include <QVariantMap>

#include "async/CancelToken.h"
#include "audio/AudioCaptureError.h"
#include "auth/KeychainError.h"
#include "cloud/CloudClientError.h"
#include "cloud/CloudTransportError.h"
#include "coordinator/CoordinatorHelpers.h"
#include "insertion/TextInsertionTypes.h"
#include "shortcuts/KeyboardEventMonitorError.h"

using namespace tessvale;

namespace {

template <typename Error> std::exception_ptr errorOf(Error error)
{
    return std::make_exception_ptr(std::move(error));
}

struct ErrorCase
{
    std::string name;
    std::exception_ptr error;
    bool expected;
};

TEST(ShouldReportError, ReportsFaultsAndLeavesOutTheUsersDoingAndCancellations)
{
    using Transport = CloudTransportError::Code;
    using Insertion = TextInsertionError;
    using Capture = AudioCaptureError;
    const std::vector<ErrorCase> cases = {
        { "no error", nullptr, false },
        { "our own cancellation", errorOf(CancelledError()), false },
        { "a cancelled transfer", errorOf(CloudTransportError(Transport::cancelled, "Cancelled")), false },
        { "a timed-out transfer", errorOf(CloudTransportError(Transport::timedOut, "Timed out")), true },
        { "a refused stream", errorOf(CloudTransportError::refusedOpening(401)), true },
        { "invalid response", errorOf(CloudClientError::invalidResponse("bad")), true },
        { "request failed 401", errorOf(CloudClientError::requestFailed(401, "no")), false },
        { "request failed 499", errorOf(CloudClientError::requestFailed(499, "no")), false },
        { "request failed 500", errorOf(CloudClientError::requestFailed(500, "down")), true },
        { "request failed 503", errorOf(CloudClientError::requestFailed(503, "down")), true },
        { "invalid base URL", errorOf(CloudClientError::invalidBaseURL()), false },
        { "missing API key", errorOf(CloudClientError::missingAPIKey()), false },
        { "missing accessibility", errorOf(Insertion(Insertion::missingAccessibilityPermission)), false },
        { "cannot write pasteboard", errorOf(Insertion(Insertion::unableToWritePasteboard)), true },
        { "cannot emit paste", errorOf(Insertion(Insertion::unableToEmitPaste)), true },
        { "cannot type unicode", errorOf(Insertion(Insertion::unableToTypeUnicode)), true },
        { "keyboard unavailable", errorOf(Insertion(Insertion::keyboardUnavailable)), false },
        { "no focused element", errorOf(Insertion(Insertion::noFocusedElement)), false },
        { "cannot restore focus", errorOf(Insertion(Insertion::unableToRestoreFocus)), false },
        { "cannot set selected text", errorOf(Insertion(Insertion::unableToSetSelectedText)), true },
        { "modifier keys held", errorOf(Insertion(Insertion::modifierKeysHeld)), false },
        { "transcript not delivered", errorOf(Insertion(Insertion::transcriptNotDelivered)), false },
        { "transcript partly inserted", errorOf(Insertion::partlyInserted(3, 10)), false },
        { "every driver failed", errorOf(TextInsertionServiceError({ "paste failed", "typing failed" })), true },
        { "input unavailable", errorOf(Capture::inputUnavailable()), false },
        { "output format unavailable", errorOf(Capture::outputFormatUnavailable()), true },
        { "converter unavailable", errorOf(Capture::converterUnavailable()), true },
        { "capture already running", errorOf(Capture::alreadyRunning()), false },
        { "device selection failed", errorOf(Capture::deviceSelectionFailed()), false },
        { "keyboard monitor unavailable", errorOf(KeyboardEventMonitorError()), false },
        { "unlock prompt dismissed", errorOf(KeychainError::unexpectedStatus(SecretStatusCode::userCanceled)), false },
        { "keyring locked", errorOf(KeychainError::unexpectedStatus(SecretStatusCode::interactionNotAllowed)), true },
        { "keyring unavailable", errorOf(KeychainError::unexpectedStatus(SecretStatusCode::notAvailable)), true },
        { "keychain data unreadable", errorOf(KeychainError::invalidData()), true },
        { "anything else", errorOf(std::runtime_error("boom")), true },
        { "not even an exception", errorOf(42), true },
    };
    for (const ErrorCase& c : cases)
        EXPECT_EQ(shouldReportError(c.error), c.expected) << c.name;
}

TEST(IsCancellationError, CountsOurCancellationAndCancelledTransfersOnly)
{
    const std::vector<ErrorCase> cases = {
        { "no error", nullptr, false },
        { "our own cancellation", errorOf(CancelledError()), true },
        { "a cancelled reply",
            errorOf(CloudTransportError::fromNetworkError(QNetworkReply::OperationCanceledError, {})), true },
        { "a lost connection", errorOf(CloudTransportError(CloudTransportError::Code::connectionLost, "Lost")), false },
        { "a plain runtime error", errorOf(std::runtime_error("cancelled")), false },
    };
    for (const ErrorCase& c : cases)
        EXPECT_EQ(isCancellationError(c.error), c.expected) << c.name;
}

SessionTranscriptRecord row(const QString& finalText)
{
    return { QUuid::createUuid(), QDateTime::currentDateTimeUtc(), QStringLiteral("raw"), finalText };
}

TEST(TrimmedTranscriptText, PrefersTheFinalTranscriptThenTheNewestRowTrimmed)
{
    struct Case
    {
        QString finalTranscript;
        QList<SessionTranscriptRecord> history;
        std::optional<QString> expected;
    };
    const std::vector<Case> cases = {
        { " hello\n", { row("older") }, QStringLiteral("hello") },
        { " \n\t", { row("\n newest "), row("older") }, QStringLiteral("newest") },
        // Only the newest row counts, even when an older one has text.
        { "", { row("  \n"), row("older") }, std::nullopt },
        { "", {}, std::nullopt },
        { "  ", {}, std::nullopt },
    };
    for (const Case& c : cases)
        EXPECT_EQ(trimmedTranscriptText(c.finalTranscript, c.history), c.expected) << c.finalTranscript.toStdString();
}

QVariantMap urlType(const QVariant& schemes)
{
    return { { QStringLiteral("CFBundleURLName"), QStringLiteral("com.tessvale.mac") },
        { QStringLiteral("CFBundleURLSchemes"), schemes } };
}

TEST(NativeAuthRedirectURI, TakesTheFirstUsableSchemeOrTheDefault)
{
    struct Case
    {
        std::string name;
        std::optional<QVariantMap> dictionary;
        QString expected;
    };
    const QString fallback = QStringLiteral("tessvale://native-auth/callback");
    const auto types = [](QVariantList list) { return QVariantMap { { QStringLiteral("CFBundleURLTypes"), list } }; };
    const std::vector<Case> cases = {
        { "no bundle", std::nullopt, fallback },
        { "no URL types", QVariantMap {}, fallback },
        { "URL types of another type", QVariantMap { { QStringLiteral("CFBundleURLTypes"), QStringLiteral("x") } },
            fallback },
        { "the second type's first scheme, trimmed",
            types({ urlType(QVariantList {}), urlType(QVariantList { " tvdev ", "other" }) }),
            QStringLiteral("tvdev://native-auth/callback") },
        { "schemes that are not all strings skip the type",
            types({ urlType(QVariantList { "first", 7 }), urlType(QVariantList { "second" }) }),
            QStringLiteral("second://native-auth/callback") },
        { "a blank first scheme skips the type", types({ urlType(QVariantList { "  ", "later" }) }), fallback },
        { "a scheme that makes no URL skips the type",
            types({ urlType(QVariantList { "no scheme" }), urlType(QVariantList { "tessvale-beta" }) }),
            QStringLiteral("tessvale-beta://native-auth/callback") },
        { "schemes that are no list", types({ urlType(QStringLiteral("tessvale-one")) }), fallback },
    };
    for (const Case& c : cases) {
        const DictionaryBundleInfo bundle(c.dictionary);
        EXPECT_EQ(nativeAuthRedirectURI(bundle), QUrl(c.expected)) << c.name;
    }
    EXPECT_EQ(nativeAuthRedirectURI().toString(), fallback);
}

TEST(BundleAppVersion, TakesTheFirstVersionWithTextAsStored)
{
    struct Case
    {
        std::optional<QVariantMap> dictionary;
        QString expected;
    };
    const QString shortKey = QStringLiteral("CFBundleShortVersionString");
    const QString buildKey = QStringLiteral("CFBundleVersion");
    const std::vector<Case> cases = {
        { QVariantMap { { shortKey, " 1.2 " }, { buildKey, "42" } }, " 1.2 " },
        { QVariantMap { { shortKey, " \n" }, { buildKey, "42" } }, "42" },
        { QVariantMap { { shortKey, 3 }, { buildKey, "42" } }, "42" },
        { QVariantMap { { buildKey, "" } }, "0.1.0" },
        { QVariantMap {}, "0.1.0" },
        { std::nullopt, "0.1.0" },
    };
    for (const Case& c : cases)
        EXPECT_EQ(bundleAppVersion(DictionaryBundleInfo(c.dictionary)), c.expected) << c.expected.toStdString();
}

TEST(CallbackURLMatches, ComparesSchemeHostPortAndPathButNotTheQuery)
{
    struct Case
    {
        QString url;
        QString redirectURI;
        bool expected;
    };
    const QString redirect = QStringLiteral("tessvale://native-auth/callback");
    const std::vector<Case> cases = {
        { "tessvale://native-auth/callback", redirect, true },
        { "TESSVALE://Native-Auth/callback?code=abc&state=xyz#done", redirect, true },
        { "tessvale://native-auth/Callback?code=abc", redirect, false },
        { "tessvale://native-auth/callback/", redirect, false },
        { "tessvale://other/callback", redirect, false },
        { "tessvale-beta://native-auth/callback", redirect, false },
        { "http://127.0.0.1:41000/callback?code=abc", "http://127.0.0.1:41000/callback", true },
        { "http://127.0.0.1:41001/callback?code=abc", "http://127.0.0.1:41000/callback", false },
        { "http://127.0.0.1/callback", "http://127.0.0.1:80/callback", false },
        // An empty path is the root.
        { "https://example.test?code=abc", "https://example.test/", true },
        { "/native-auth/callback", redirect, false },
        { "tessvale://native-auth/callback", "", false },
        { "tessvale://native-auth/callback", "tessvale://native auth/callback", false },
    };
    for (const Case& c : cases) {
        EXPECT_EQ(callbackURLMatches(QUrl(c.url), c.redirectURI), c.expected)
            << c.url.toStdString() << " against " << c.redirectURI.toStdString();
    }
}

} // namespace
