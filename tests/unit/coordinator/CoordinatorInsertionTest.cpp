#include <gtest/gtest.h>

#include <memory>
#include <optional>

#include "coordinator/CoordinatorHelpers.h"
#include "insertion/TextInsertionTypes.h"
#include "support/coordinator/CoordinatorHarness.h"

using namespace tessvale;
using Access = DictationCoordinatorTestAccess;

namespace {

const QUuid kSession(QStringLiteral("{3f6c2a9e-1b4d-4e8f-a7c5-0d9e8f7a6b5c}"));
const QUuid kEarlier(QStringLiteral("{9a8b7c6d-5e4f-4a3b-8c2d-1e0f9a8b7c6d}"));
const QString kLogID = QStringLiteral("3F6C2A9E-1B4D-4E8F-A7C5-0D9E8F7A6B5C");

void insert(CoordinatorHarness& h, const QString& text)
{
    QCoro::Task<> task = Access::insertCommittedTranscript(h.coordinator(), text);
    h.settle();
}

} // namespace

TEST(CoordinatorInsertion, SuccessEndsTheSessionReadyOnlyWhileSignedIn)
{
    for (const bool signedIn : { true, false }) {
        CoordinatorHarness h;
        DictationCoordinator& c = h.coordinator();
        if (signedIn)
            Access::setSignedIn(c, CoordinatorHarness::sampleMe(QStringLiteral("ada@example.test")));
        Access::setPendingInsertionRetry(c, kEarlier, QStringLiteral("earlier"));
        Access::openSession(c, kSession, h.services().webSocketFactory(QUrl(), QString()));
        h.insertionResult.driver = TextInsertionDriver::unicodeTyping;

        insert(h, QStringLiteral("Hi 👋🏽 there"));

        EXPECT_TRUE(h.logged(
            QStringLiteral("Inserted transcript for %1 via unicodeTyping into unknown target (10 chars)").arg(kLogID)));
        EXPECT_EQ(c.phase(), signedIn ? DictationPhase::ready : DictationPhase::signedOut);
        EXPECT_FALSE(c.canRetryFailedInsertion());
        EXPECT_EQ(h.transportDisconnects, 1);
        EXPECT_EQ(h.settings().launchReadinessState(QStringLiteral("ada@example.test"))
                == AppSettings::LaunchReadinessState::completed,
            signedIn);
    }
}

TEST(CoordinatorInsertion, AFocusFailureKeepsARetryThatASuccessfulRetryClears)
{
    CoordinatorHarness h;
    DictationCoordinator& c = h.coordinator();
    Access::setSignedIn(c, CoordinatorHarness::sampleMe());
    const auto target = std::make_shared<const FocusedInsertionTarget>(
        FocusedApplicationTarget { QStringLiteral("Notes"), 42 }, nullptr, nullptr, std::nullopt, std::nullopt, true);
    Access::openSession(c, kSession, std::nullopt, target);
    h.diagnostics = FocusedAppDiagnostics { .appName = QStringLiteral("Notes"), .role = QStringLiteral("text") };
    h.insertionError = std::make_exception_ptr(TextInsertionError(TextInsertionError::unableToRestoreFocus));

    insert(h, QStringLiteral("Dear Ada"));

    const QString message
        = QStringLiteral("Tessvale could not restore focus to Notes. Click back into that field and try again.");
    EXPECT_EQ(c.lastError(), message);
    EXPECT_TRUE(c.canRetryFailedInsertion());
    EXPECT_TRUE(h.logged(QStringLiteral("Failed to insert transcript for %1 into Notes (unknown-bundle) role=text: %2")
                             .arg(kLogID, message)));

    h.insertionError = nullptr;
    c.retryFailedInsertion();
    h.settle();

    EXPECT_TRUE(h.logged(QStringLiteral("Retrying transcript insertion for %1.").arg(kLogID)));
    ASSERT_EQ(h.insertions.size(), 2);
    EXPECT_EQ(h.insertions[1].target, target);
    EXPECT_EQ(c.phase(), DictationPhase::ready);
    EXPECT_TRUE(c.lastError().isEmpty());
    EXPECT_FALSE(c.canRetryFailedInsertion());
}

TEST(CoordinatorInsertion, EachFailureDecidesOnRetryAndReportByItsKind)
{
    struct Row
    {
        std::exception_ptr error;
        bool keepsRetry;
        bool reported;
    };
    const Row rows[] = {
        { errorOf(TextInsertionError(TextInsertionError::unableToTypeUnicode)), false, true },
        // No target: the service's own focus message.
        { errorOf(TextInsertionError(TextInsertionError::unableToRestoreFocus)), true, false },
        // The user's own copy went in instead of ours: ours can go in again.
        { errorOf(TextInsertionError(TextInsertionError::transcriptNotDelivered)), true, false },
        // The application may paste it late: kept, for the user to retry having seen the field.
        { errorOf(TextInsertionError(TextInsertionError::pasteNotTaken)), true, false },
        // A retry would insert the part that is in twice.
        { errorOf(TextInsertionError::partlyInserted(3, 10)), false, false },
        // Kept off an unreadable clipboard, and no other driver could insert it.
        { errorOf(TextInsertionServiceError({ "pasteboard: unreadable", "unicodeTyping: no" },
              { TextInsertionError::clipboardUnreadable, TextInsertionError::unableToTypeUnicode })),
            true, true },
    };
    const QString text = QStringLiteral("Take the train");
    for (const Row& row : rows) {
        const QString description = localizedDescription(row.error);
        SCOPED_TRACE(description.toStdString());
        CoordinatorHarness h;
        DictationCoordinator& c = h.coordinator();
        Access::setPendingInsertionRetry(c, kEarlier, QStringLiteral("earlier"));
        Access::addTranscriptRecord(c, { kSession, QDateTime::currentDateTime(), text, text });
        Access::openSession(c, kSession, std::nullopt);
        h.insertionError = row.error;

        insert(h, text);

        EXPECT_EQ(c.phase(), DictationPhase::error);
        EXPECT_EQ(c.lastError(), description);
        EXPECT_EQ(Access::pendingInsertionRetryText(c), row.keepsRetry ? std::optional(text) : std::nullopt);
        EXPECT_EQ(c.latestTranscriptText(), text);
        EXPECT_TRUE(h.logged(
            QStringLiteral("Failed to insert transcript for %1 into unknown target: %2").arg(kLogID, description)));
        ASSERT_EQ(h.reports.size(), row.reported ? 1 : 0);
        if (row.reported) {
            EXPECT_EQ(h.reports[0].context, "Inserting dictated text");
            EXPECT_EQ(h.reports[0].extras, (QMap<QString, QString> { { "target", "unknown target" } }));
        }
    }
}

TEST(CoordinatorInsertion, ARetryRunsOnceAndNeverDuringADictation)
{
    CoordinatorHarness h;
    DictationCoordinator& c = h.coordinator();
    Access::setPendingInsertionRetry(c, kSession, QStringLiteral("Once only"));
    Access::setPhase(c, DictationPhase::recording);
    c.retryFailedInsertion();
    h.settle();
    EXPECT_EQ(h.activityMessages(), QStringList { "Ignored retry insert request while phase=recording." });
    EXPECT_EQ(c.phase(), DictationPhase::recording);

    // The first retry claims the insertion before it waits for the old session to close.
    OneShot<> closed;
    WebSocketTransport transport;
    transport.disconnect = [closed] { return deliverAnswer(CloudAnswer<bool> { .gate = closed }); };
    Access::openSession(c, kEarlier, transport);
    Access::setPhase(c, DictationPhase::error);
    c.retryFailedInsertion();
    c.retryFailedInsertion();
    h.settle();
    EXPECT_EQ(c.phase(), DictationPhase::inserting);
    EXPECT_TRUE(h.logged("Ignored retry insert request while phase=inserting."));

    closed.resolve();
    h.settle();
    EXPECT_EQ(h.insertions.size(), 1);
    EXPECT_FALSE(c.canRetryFailedInsertion());
}

TEST(CoordinatorInsertion, CopiesTheTrimmedLatestTranscript)
{
    CoordinatorHarness h;
    DictationCoordinator& c = h.coordinator();
    Access::addTranscriptRecord(c, { kSession, QDateTime::currentDateTime(), "", "   \n" });
    c.copyLatestTranscript();
    EXPECT_TRUE(h.clipboardWrites.isEmpty());
    EXPECT_TRUE(h.activityMessages().isEmpty());

    Access::addTranscriptRecord(c, { kEarlier, QDateTime::currentDateTime(), "", "  See you soon\n" });
    c.copyLatestTranscript();
    h.clipboardWorks = false;
    c.copyLatestTranscript();
    EXPECT_EQ(h.clipboardWrites, QStringList { "See you soon" });
    EXPECT_EQ(h.activityMessages(),
        (QStringList {
            "Failed to copy latest transcript to the clipboard.", "Copied latest transcript to the clipboard." }));
}
