#include <gtest/gtest.h>

#include <memory>

#include <QCoreApplication>

#include "support/coordinator/CoordinatorHarness.h"

using namespace tessvale;
using Access = DictationCoordinatorTestAccess;

namespace {

const QUuid kSession(QStringLiteral("{5b1e7c3a-2d4f-4a6b-9c8d-7e6f5a4b3c2d}"));
const QString kLogID = QStringLiteral("5B1E7C3A-2D4F-4A6B-9C8D-7E6F5A4B3C2D");
const QString kEmail = QStringLiteral("ada@example.test");

FocusedInsertionTargetRef targetOf(qint32 pid)
{
    return std::make_shared<const FocusedInsertionTarget>(
        FocusedApplicationTarget { QStringLiteral("Window"), pid }, nullptr, nullptr, std::nullopt, std::nullopt, true);
}

} // namespace

// A dictation begun in one of our own windows keeps its text and does not count as the first success.
TEST(CoordinatorOwnWindow, ADictationFromOurOwnWindowIsKeptNotInserted)
{
    struct Case
    {
        qint32 pid;
        bool inserted;
    };
    for (const Case& row : { Case { qint32(QCoreApplication::applicationPid()), false }, Case { 4242, true } }) {
        CoordinatorHarness h;
        DictationCoordinator& c = h.coordinator();
        Access::setSignedIn(c, CoordinatorHarness::sampleMe(kEmail));
        Access::openSession(c, kSession, h.services().webSocketFactory(QUrl(), QString()), targetOf(row.pid));
        Access::addTranscriptRecord(c,
            SessionTranscriptRecord { kSession, QDateTime::currentDateTime(), QStringLiteral("hello there"),
                QStringLiteral("Hello there.") });

        QCoro::Task<> task = Access::insertCommittedTranscript(c, QStringLiteral("Hello there."));
        h.settle();

        EXPECT_EQ(h.insertions.size(), row.inserted ? 1 : 0);
        EXPECT_EQ(c.phase(), DictationPhase::ready);
        EXPECT_TRUE(c.lastError().isEmpty());
        EXPECT_FALSE(c.canRetryFailedInsertion());
        EXPECT_EQ(c.latestTranscriptText(), QStringLiteral("Hello there."));
        EXPECT_EQ(h.transportDisconnects, 1);
        EXPECT_EQ(
            h.settings().launchReadinessState(kEmail) == AppSettings::LaunchReadinessState::completed, row.inserted);
        EXPECT_EQ(h.logged(QStringLiteral("Kept transcript for %1 without inserting it: the dictation began in "
                                          "Tessvale itself (12 chars)")
                               .arg(kLogID)),
            !row.inserted);
    }
}

TEST(CoordinatorOwnWindow, TheSupportAddressOpensAsMailThroughTheOpener)
{
    CoordinatorHarness h;
    h.coordinator().openSupportEmail();
    ASSERT_EQ(h.openedURLs.size(), 1);
    EXPECT_EQ(h.openedURLs[0].scheme(), QStringLiteral("mailto"));
    EXPECT_EQ(h.openedURLs[0].path(), DictationCoordinator::supportEmailAddress());
    EXPECT_TRUE(isOpenableExternalURL(h.openedURLs[0]));
}
