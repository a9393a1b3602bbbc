#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QSignalSpy>

#include "support/coordinator/CoordinatorHarness.h"

using namespace tessvale;

TEST(CoordinatorState, ViewsHearOneCoalescedChangePerTurnAndNoneForTheAudioLevel)
{
    CoordinatorHarness h;
    DictationCoordinator& coordinator = h.coordinator();
    QSignalSpy phases(&coordinator, &DictationCoordinator::phaseChanged);
    QSignalSpy state(&coordinator, &DictationCoordinator::stateChanged);
    QSignalSpy levels(&coordinator, &DictationCoordinator::audioLevelChanged);

    DictationCoordinatorTestAccess::setPhase(coordinator, DictationPhase::ready);
    DictationCoordinatorTestAccess::setPhase(coordinator, DictationPhase::ready);
    DictationCoordinatorTestAccess::addTranscriptRecord(coordinator, { QUuid::createUuid(), {}, "a", "a" });
    // Every assignment is announced, an unchanged value too; views get one call for the whole turn.
    EXPECT_EQ(phases.count(), 2);
    EXPECT_EQ(state.count(), 0);
    h.settle();
    EXPECT_EQ(state.count(), 1);

    DictationCoordinatorTestAccess::setAudioLevel(coordinator, 0.5);
    h.settle();
    EXPECT_EQ(levels.count(), 1);
    EXPECT_EQ(state.count(), 1);
}
