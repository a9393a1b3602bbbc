#include <gtest/gtest.h>

#include <chrono>

#include "settings/InMemoryUserDefaults.h"
#include "support/audio/FakeAudioSystem.h"
#include "support/coordinator/CoordinatorHarness.h"
#include "system/PermissionService.h"

using namespace tessvale;
using namespace std::chrono_literals;
using Event = PermissionRefreshPollEvent;
using Outcome = PermissionRefreshPollOutcome;

namespace {

// Newest first, as the activity log keeps them; -1 when absent.
qsizetype indexOf(CoordinatorHarness& h, const QString& message)
{
    return h.activityMessages().indexOf(message);
}

} // namespace

TEST(CoordinatorStartup, ConstructionStartsNothingAndBootstrapStartsItsBackgroundWorkAfterReturning)
{
    CoordinatorHarness h;
    h.microphoneStatus = MicrophoneAuthorizationStatus::restricted;
    h.accessibilityTrusted = false;
    h.audio().deviceList = { { QStringLiteral("mic-1"), QStringLiteral("Desk mic"), 1 } };
    DictationCoordinator& c = h.coordinator();
    h.settle();
    EXPECT_EQ(c.phase(), DictationPhase::signedOut);
    EXPECT_EQ(c.appUpdateState(), AppUpdateState::idle());
    EXPECT_EQ(c.permissionSnapshot(), (PermissionSnapshot { PermissionState::denied, PermissionState::denied }));
    EXPECT_TRUE(h.cloudCalls.isEmpty() && c.activityLog().isEmpty() && c.availableInputDevices().isEmpty());
    EXPECT_EQ(h.audio().subscriberCount() + h.recorderStops + h.transportsMade, 0);

    c.bootstrap();
    EXPECT_EQ(indexOf(h, QStringLiteral("App bootstrapped.")), 0);
    EXPECT_EQ(indexOf(h, QStringLiteral("Permissions refreshed. microphone=denied accessibility=denied")), 1);
    EXPECT_EQ(c.availableInputDevices().size(), 1);
    EXPECT_EQ(h.audio().subscriberCount(), 1);
    EXPECT_EQ(h.cloudCalls.value(QStringLiteral("update")), 0);
    h.settle();
    EXPECT_EQ(h.cloudCalls.value(QStringLiteral("update")), 1);
    EXPECT_TRUE(h.logged(QStringLiteral("No stored API key found.")));
    EXPECT_TRUE(c.didFinishSessionBootstrap());

    // A device change re-lists; a second bootstrap repeats its steps over the one monitor.
    h.audio().deviceList.append({ QStringLiteral("mic-2"), QStringLiteral("Headset"), 1 });
    h.audio().notifyChanged();
    c.bootstrap();
    h.settle();
    EXPECT_EQ(c.availableInputDevices().size(), 2);
    EXPECT_EQ(h.audio().subscriberCount(), 1);
    EXPECT_EQ(h.cloudCalls.value(QStringLiteral("update")), 2);
}

TEST(CoordinatorStartup, ASettingsStoreThatCannotKeepChangesIsShownAtStartAndWhenAWriteFails)
{
    CoordinatorHarness h;
    h.defaults().setProblem(QStringLiteral("set aside"));
    DictationCoordinator& c = h.coordinator();
    c.bootstrap();
    h.settle();
    EXPECT_TRUE(h.logged(QStringLiteral("set aside")));
    EXPECT_EQ(c.lastError(), QStringLiteral("set aside"));
    h.defaults().setProblem(QStringLiteral("not saved"));
    EXPECT_EQ(indexOf(h, QStringLiteral("not saved")), 0);
    EXPECT_EQ(c.lastError(), QStringLiteral("not saved"));
}

TEST(CoordinatorStartup, PollsEndOnAChangeOnATimeoutOrWhenReplaced)
{
    CoordinatorHarness h;
    h.accessibilityTrusted = false;
    DictationCoordinator& c = h.coordinator();
    QList<Event> events;
    int checks = 0;
    c.setPermissionRefreshEventHandler([&events](const Event& event) { events.append(event); });
    QObject::connect(&c, &DictationCoordinator::permissionSnapshotChanged, [&checks] { ++checks; });

    c.promptForAccessibility();
    EXPECT_EQ(h.accessibilityPrompts, 1);
    EXPECT_TRUE(h.logged(QStringLiteral("Started permission polling. reason=accessibility settings opened")));
    h.settle();
    h.accessibilityTrusted = true;
    h.advance(500ms);
    const QUuid changed = events[0].pollID;
    EXPECT_EQ(events, (QList<Event> { Event::started(changed), Event::finished(changed, Outcome::changed) }));

    // Trusted now: no prompt, but a poll all the same, replaced after a second by one that times out
    // after one check at once and one every half second.
    events.clear();
    c.promptForAccessibility();
    h.settle();
    h.advance(1s);
    c.promptForAccessibility();
    checks = 0;
    h.settle();
    h.advance(14500ms);
    ASSERT_EQ(events.size(), 3);
    const QUuid replaced = events[0].pollID, timedOut = events[2].pollID;
    h.advance(500ms);
    EXPECT_EQ(h.accessibilityPrompts, 1);
    EXPECT_EQ(checks, 31);
    EXPECT_EQ(events,
        (QList<Event> { Event::started(replaced), Event::finished(replaced, Outcome::canceled),
            Event::started(timedOut), Event::finished(timedOut, Outcome::timedOut) }));
    EXPECT_TRUE(h.logged(QStringLiteral("Permission polling timed out without a permission change.")));
}

TEST(CoordinatorStartup, MicrophonePromptActsOnTheLastRefreshedState)
{
    using Status = MicrophoneAuthorizationStatus;
    const QString yes = QStringLiteral("Microphone permission request completed. authorized=true");
    const QString no = QStringLiteral("Microphone permission request completed. authorized=false");
    const QString polling = QStringLiteral("Started permission polling. reason=microphone settings opened");
    struct Case
    {
        Status status;
        bool grants;
        int requests;
        bool opensSettings;
        QString line;
    };
    const QList<Case> cases = {
        { Status::authorized, true, 0, false, yes },
        { Status::notDetermined, true, 1, false, yes },
        { Status::notDetermined, false, 1, false, no },
        { Status::denied, true, 0, true, no },
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(static_cast<int>(test.status));
        CoordinatorHarness h;
        h.microphoneStatus = test.status;
        h.microphoneRequestGrants = test.grants;
        h.coordinator().promptForMicrophone();
        EXPECT_EQ(h.microphoneRequests, 0);
        h.settle();
        EXPECT_EQ(h.microphoneRequests, test.requests);
        EXPECT_EQ(h.openedSettingsURLs.size(), test.opensSettings ? 1 : 0);
        EXPECT_EQ(h.logged(polling), test.opensSettings);
        // Newest first: the request line is the last, but for the poll's own first check.
        EXPECT_EQ(indexOf(h, test.line), test.opensSettings ? 1 : 0);
        if (test.opensSettings) {
            EXPECT_EQ(h.openedSettingsURLs[0], QUrl(PermissionService::microphonePrivacySettingsURLText()));
            EXPECT_GT(indexOf(h, polling), 1);
        }
    }
}
