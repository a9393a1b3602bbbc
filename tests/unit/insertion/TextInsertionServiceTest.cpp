#include "InsertionFixture.h"

using namespace tessvale;
using namespace tessvale::testing;
using namespace std::chrono_literals;

namespace {

using Driver = TextInsertionDriver;

QCoro::Task<bool> alwaysTrue()
{
    co_return true;
}

class TextInsertionServiceTest : public InsertionFixture
{
};

TEST_F(TextInsertionServiceTest, UntrustedFailsBeforeAnySideEffect)
{
    accessibility->trusted = false;
    auto outcome = start(QStringLiteral("hello"), textFieldTarget());
    runUntilDone(outcome);
    EXPECT_EQ(outcome->errorCase(), TextInsertionError::missingAccessibilityPermission);
    EXPECT_TRUE(windows->activationRequests.isEmpty());
    EXPECT_TRUE(accessibility->calls.isEmpty());
    EXPECT_TRUE(injector->events.isEmpty());
    EXPECT_FALSE(clipboard->text(ClipboardSelection::clipboard));
}

TEST_F(TextInsertionServiceTest, DriverOrderFollowsPreferDirectTypingUnlessDriversAreGiven)
{
    EXPECT_EQ(TextInsertionService::driverOrder(std::nullopt, false),
        (QList<Driver> { Driver::pasteboard, Driver::selectedText, Driver::unicodeTyping }));
    EXPECT_EQ(TextInsertionService::driverOrder(std::nullopt, true),
        (QList<Driver> { Driver::selectedText, Driver::unicodeTyping, Driver::pasteboard }));
    EXPECT_EQ(TextInsertionService::driverOrder(QList<Driver> { Driver::unicodeTyping }, true),
        (QList<Driver> { Driver::unicodeTyping }));
}

TEST_F(TextInsertionServiceTest, AllDriversFailingJoinsTheirErrorsInTheOrderTried)
{
    clipboard->clipboard.writeFails = true;
    injector->typingWorks = false;
    auto outcome = start(QStringLiteral("hello"), nullptr, true, false);
    runUntilDone(outcome);
    EXPECT_EQ(outcome->errorText(),
        QStringLiteral("All insertion strategies failed: pasteboard: Unable to write to the clipboard.; "
                       "selectedText: No focused accessibility element is available.; "
                       "unicodeTyping: Unable to type text into the focused application."));
}

TEST_F(TextInsertionServiceTest, PreferDirectTypingTriesSelectedTextThenTypingThenPasteboard)
{
    clipboard->clipboard.writeFails = true;
    injector->typingWorks = false;
    auto outcome = start(QStringLiteral("hello"), nullptr, true, true);
    runUntilDone(outcome);
    EXPECT_EQ(outcome->errorText(),
        QStringLiteral("All insertion strategies failed: selectedText: No focused accessibility element is available.; "
                       "unicodeTyping: Unable to type text into the focused application.; "
                       "pasteboard: Unable to write to the clipboard."));
}

TEST_F(TextInsertionServiceTest, EmptyDriverListFailsWithThePrefixAlone)
{
    hooks.enabledDrivers = QList<Driver> {};
    auto outcome = start(QStringLiteral("hello"));
    runUntilDone(outcome);
    EXPECT_EQ(outcome->errorText(), QStringLiteral("All insertion strategies failed: "));
    try {
        std::rethrow_exception(outcome->error);
    } catch (const TextInsertionServiceError& error) {
        EXPECT_EQ(error.domain(), QStringLiteral("TextInsertionService"));
        EXPECT_EQ(error.code(), 1);
    }
}

TEST_F(TextInsertionServiceTest, SuccessfulDriverEndsTheLoopWithDiagnosticsReadBeforeIt)
{
    hooks.enabledDrivers = QList<Driver> { Driver::unicodeTyping, Driver::pasteboard };
    auto outcome = start(QStringLiteral("hello"));
    runUntilDone(outcome);
    ASSERT_TRUE(outcome->result);
    EXPECT_EQ(outcome->result->driver, Driver::unicodeTyping);
    ASSERT_TRUE(outcome->result->diagnostics);
    EXPECT_EQ(outcome->result->diagnostics->appName, QStringLiteral("Notes"));
    EXPECT_EQ(injector->events, QStringList { QStringLiteral("type:hello") });
}

TEST_F(TextInsertionServiceTest, TrailingSpaceIsAppendedEvenAfterASpace)
{
    hooks.enabledDrivers = QList<Driver> { Driver::unicodeTyping };
    auto outcome = start(QStringLiteral("hi "), nullptr, false, false, {}, true);
    runUntilDone(outcome);
    EXPECT_EQ(injector->events, QStringList { QStringLiteral("type:hi  ") });
}

TEST_F(TextInsertionServiceTest, DriverFailureMovesToTheNextDriver)
{
    hooks.enabledDrivers = QList<Driver> { Driver::selectedText, Driver::unicodeTyping };
    focusTargetField();
    accessibility->replaceBehaviour = FakeAccessibility::ReplaceBehaviour::refuses;
    auto outcome = start(QStringLiteral("hello"));
    runUntilDone(outcome);
    ASSERT_TRUE(outcome->result);
    EXPECT_EQ(outcome->result->driver, Driver::unicodeTyping);
}

// --- target preparation ---------------------------------------------------------------------------

TEST_F(TextInsertionServiceTest, TargetAlreadyFocusedCostsNoRaiseFocusOrWait)
{
    focusTargetField();
    hooks.enabledDrivers = QList<Driver> { Driver::unicodeTyping };
    auto outcome = start(QStringLiteral("hello"), textFieldTarget());
    advance(40ms);
    advance(1ms);
    EXPECT_TRUE(outcome->done) << "ready after two readings 0.04 s apart";
    ASSERT_TRUE(outcome->result);
    EXPECT_FALSE(accessibility->calls.contains(QStringLiteral("focus:field")));
    EXPECT_TRUE(windows->activationRequests.isEmpty());
}

TEST_F(TextInsertionServiceTest, FocusIsRestoredIntoTheCapturedFieldBeforeInserting)
{
    focusTargetField();
    accessibility->focused = fakeElement(QStringLiteral("other"));
    windows->frontmost = FrontmostApplication { QStringLiteral("Terminal"), std::nullopt, 99, {}, 8 };
    hooks.enabledDrivers = QList<Driver> { Driver::unicodeTyping };
    auto outcome = start(QStringLiteral("hello"), textFieldTarget());
    runUntilDone(outcome);
    ASSERT_TRUE(outcome->result) << outcome->errorText().toStdString();
    EXPECT_EQ(windows->activationRequests, QList<qint32> { targetPid });
    EXPECT_TRUE(accessibility->calls.contains(QStringLiteral("raise:window")));
    EXPECT_TRUE(accessibility->calls.contains(QStringLiteral("focus:field")));
}

TEST_F(TextInsertionServiceTest, RestorerFailureStopsBeforeTheWaiterAndAnyDriver)
{
    int waiterCalls = 0;
    hooks.targetRestorer = [](FocusedInsertionTargetRef, CancelToken) -> QCoro::Task<bool> { co_return false; };
    hooks.targetReadinessWaiter = [&waiterCalls](FocusedInsertionTargetRef, CancelToken) {
        ++waiterCalls;
        return alwaysTrue();
    };
    auto outcome = start(QStringLiteral("hello"), textFieldTarget());
    runUntilDone(outcome);
    EXPECT_EQ(outcome->errorCase(), TextInsertionError::unableToRestoreFocus);
    EXPECT_EQ(waiterCalls, 0);
    EXPECT_FALSE(clipboard->text(ClipboardSelection::clipboard));
}

TEST_F(TextInsertionServiceTest, TargetNotFrontmostAfterActivationNeverGetsTextInAnotherWindow)
{
    // The window manager refuses to raise the target: another application keeps focus.
    windows->activationBringsToFront = false;
    windows->frontmost = FrontmostApplication { QStringLiteral("Terminal"), std::nullopt, 99, {}, 8 };
    auto outcome = start(QStringLiteral("hello"), applicationOnlyTarget());
    runUntilDone(outcome);
    EXPECT_EQ(outcome->errorCase(), TextInsertionError::unableToRestoreFocus);
    EXPECT_TRUE(injector->events.isEmpty());
    EXPECT_FALSE(clipboard->text(ClipboardSelection::clipboard));
}

TEST_F(TextInsertionServiceTest, FocusLeavingTheTargetBetweenDriversStopsTheInsertion)
{
    hooks.enabledDrivers = QList<Driver> { Driver::selectedText, Driver::unicodeTyping };
    focusTargetField();
    accessibility->replaceBehaviour = FakeAccessibility::ReplaceBehaviour::refuses;
    int readings = 0;
    hooks.currentFrontmostApplicationPID = [&readings]() -> std::optional<qint32> {
        // Frontmost during readiness and the first driver, then the user switches away.
        return ++readings <= 3 ? std::optional<qint32>(targetPid) : std::optional<qint32>(99);
    };
    auto outcome = start(QStringLiteral("hello"), textFieldTarget());
    runUntilDone(outcome);
    EXPECT_EQ(outcome->errorCase(), TextInsertionError::unableToRestoreFocus);
    EXPECT_TRUE(injector->events.isEmpty());
}

TEST_F(TextInsertionServiceTest, WindowsWithoutAProcessIdentifierAreToldApartByTheirWindow)
{
    hooks.enabledDrivers = QList<Driver> { Driver::unicodeTyping };
    const auto target
        = std::make_shared<const FocusedInsertionTarget>(FocusedApplicationTarget { QStringLiteral("xclock"), 0 },
            nullptr, nullptr, std::nullopt, std::nullopt, false, 7);
    for (quint64 frontmostWindow : { 7, 9 }) {
        windows->frontmost = FrontmostApplication { QStringLiteral("xclock"), std::nullopt, 0, {}, frontmostWindow };
        auto outcome = start(QStringLiteral("hello"), target);
        runUntilDone(outcome);
        EXPECT_EQ(outcome->errorCase(),
            frontmostWindow == 7 ? std::nullopt : std::optional(TextInsertionError::unableToRestoreFocus));
        EXPECT_EQ(injector->events, QStringList { QStringLiteral("type:hello") }) << "typed into window 7 only";
    }
}

// --- a busy application's slow accessibility answers ---------------------------------------------

class SlowAnswersTest : public InsertionFixture
{
protected:
    struct Answers
    {
        const char* name;
        Duration delay;
        bool answers;
    };
    // Late answers, and queries that time out with none.
    static constexpr Answers busyApplications[] = {
        { "answers after 0.6 s", 600ms, true },
        { "answers after 1.5 s", 1500ms, true },
        { "answers after 2.5 s", 2500ms, true },
        { "never answers in 3 s", 3000ms, false },
    };

    void makeBusy(const Answers& row)
    {
        accessibility->clock = sleeper.get();
        accessibility->answerDelay = row.delay;
        accessibility->answers = row.answers;
    }

    FocusedInsertionTargetRef documentTarget() const
    {
        return std::make_shared<const FocusedInsertionTarget>(
            FocusedApplicationTarget { QStringLiteral("Notes"), targetPid }, fakeElement(QStringLiteral("page")),
            fakeElement(QStringLiteral("window")), QStringLiteral("AXWebArea"), std::nullopt, true, 7);
    }
};

TEST_F(SlowAnswersTest, TheRightWindowWithSlowAnswersInsertsTheText)
{
    hooks.enabledDrivers = QList<Driver> { Driver::unicodeTyping };
    for (const Answers& row : busyApplications) {
        SCOPED_TRACE(row.name);
        focusTargetField();
        makeBusy(row);
        injector->events.clear();
        auto outcome = start(QStringLiteral("hello"), textFieldTarget());
        runUntilDone(outcome, 60s);
        ASSERT_TRUE(outcome->result) << outcome->errorText().toStdString();
        EXPECT_EQ(injector->events, QStringList { QStringLiteral("type:hello") });
    }
}

TEST_F(SlowAnswersTest, FocusThatReallyMovedStillFailsWhenAnswersAreSlow)
{
    hooks.enabledDrivers = QList<Driver> { Driver::unicodeTyping };
    accessibility->focused = fakeElement(QStringLiteral("other"));
    accessibility->focusFollowsRequests = false;
    // The user went to another application, or (told by an answer) to another field of the window.
    for (bool otherWindow : { true, false }) {
        windows->activationBringsToFront = !otherWindow;
        windows->frontmost = otherWindow ? FrontmostApplication { QStringLiteral("Terminal"), std::nullopt, 99, {}, 8 }
                                         : windows->windows[targetPid];
        for (const Answers& row : busyApplications) {
            if (!otherWindow && !row.answers)
                continue;
            SCOPED_TRACE(std::string(row.name) + (otherWindow ? " / other window" : " / other field"));
            makeBusy(row);
            auto outcome = start(QStringLiteral("hello"), textFieldTarget());
            runUntilDone(outcome, 60s);
            EXPECT_EQ(outcome->errorCase(), TextInsertionError::unableToRestoreFocus);
            EXPECT_TRUE(injector->events.isEmpty());
        }
    }
}

TEST_F(SlowAnswersTest, ACapturedDocumentIsReadyWhenItsWindowIs)
{
    hooks.enabledDrivers = QList<Driver> { Driver::unicodeTyping };
    // The page reports the focus on the field inside it, and keeps it there.
    accessibility->focused = fakeElement(QStringLiteral("field in page"));
    accessibility->focusFollowsRequests = false;
    for (bool windowRight : { true, false }) {
        SCOPED_TRACE(windowRight ? "window right" : "other window");
        windows->activationBringsToFront = windowRight;
        windows->frontmost = windowRight ? windows->windows[targetPid]
                                         : FrontmostApplication { QStringLiteral("Terminal"), std::nullopt, 99, {}, 8 };
        injector->events.clear();
        auto outcome = start(QStringLiteral("hello"), documentTarget());
        runUntilDone(outcome, 60s);
        if (windowRight) {
            ASSERT_TRUE(outcome->result) << outcome->errorText().toStdString();
            EXPECT_EQ(injector->events, QStringList { QStringLiteral("type:hello") });
        } else {
            EXPECT_EQ(outcome->errorCase(), TextInsertionError::unableToRestoreFocus);
            EXPECT_TRUE(injector->events.isEmpty());
        }
    }
    EXPECT_FALSE(accessibility->calls.contains(QStringLiteral("focus:page"))) << "the page never takes the focus";
}

TEST_F(TextInsertionServiceTest, AControlThatTakesNoTextGetsNeitherKeysNorAPaste)
{
    for (const char* role : { "AXCheckBox", "AXRadioButton", "AXButton", "AXMenuItem" }) {
        const auto target = std::make_shared<const FocusedInsertionTarget>(
            FocusedApplicationTarget { QStringLiteral("Notes"), targetPid }, fakeElement(QStringLiteral("field")),
            fakeElement(QStringLiteral("window")), QString::fromLatin1(role), std::nullopt, false);
        auto outcome = start(QStringLiteral("hello"), target, true, true);
        runUntilDone(outcome);
        EXPECT_EQ(outcome->errorText(),
            QStringLiteral("No text field has focus, so nothing was inserted. Click into the field for the text and "
                           "try again."))
            << role;
        EXPECT_TRUE(injector->events.isEmpty()) << role;
        EXPECT_FALSE(clipboard->text(ClipboardSelection::clipboard)) << role;
    }
}

// --- readiness rule -------------------------------------------------------------------------------

class ReadinessTest : public InsertionFixture
{
protected:
    std::shared_ptr<std::optional<bool>> waitReady(FocusedInsertionTargetRef target)
    {
        auto result = std::make_shared<std::optional<bool>>();
        run(service().waitUntilTargetReady(std::move(target)), result);
        return result;
    }

    static QCoro::Task<> run(QCoro::Task<bool> task, std::shared_ptr<std::optional<bool>> result)
    {
        *result = co_await std::move(task);
    }
};

TEST_F(ReadinessTest, TwoConsecutiveReadyReadingsFortyMillisecondsApart)
{
    int readings = 0;
    hooks.currentFrontmostApplicationPID = [&readings]() -> std::optional<qint32> {
        ++readings;
        return targetPid;
    };
    focusTargetField();
    auto ready = waitReady(textFieldTarget());
    EXPECT_FALSE(ready->has_value());
    advance(39ms);
    EXPECT_FALSE(ready->has_value());
    advance(1ms);
    EXPECT_EQ(*ready, std::optional<bool>(true));
    EXPECT_EQ(readings, 2);
}

TEST_F(ReadinessTest, GivesUpAfterFourHundredMilliseconds)
{
    int readings = 0;
    hooks.currentFrontmostApplicationPID = [&readings]() -> std::optional<qint32> {
        ++readings;
        return 99;
    };
    auto ready = waitReady(applicationOnlyTarget());
    advance(399ms);
    EXPECT_FALSE(ready->has_value());
    advance(1ms);
    EXPECT_EQ(*ready, std::optional<bool>(false));
    EXPECT_EQ(readings, 10);
}

TEST_F(ReadinessTest, AReadingWithoutFocusedElementStartsANewRun)
{
    int readings = 0;
    hooks.currentFocusedElementProvider = [&readings]() -> AccessibilityElement {
        ++readings;
        return readings == 2 ? nullptr : fakeElement(QStringLiteral("field"));
    };
    auto ready = waitReady(textFieldTarget());
    advance(80ms);
    EXPECT_FALSE(ready->has_value()) << "readings 1 and 3 are not consecutive";
    advance(40ms);
    EXPECT_EQ(*ready, std::optional<bool>(true));
}

TEST_F(ReadinessTest, ElementMustBeTheCapturedOne)
{
    hooks.currentFocusedElementProvider = [] { return fakeElement(QStringLiteral("other")); };
    auto ready = waitReady(textFieldTarget());
    advance(400ms);
    EXPECT_EQ(*ready, std::optional<bool>(false));
}

TEST_F(ReadinessTest, SlowAnswersExtendTheWaitButOnlyTheCapturedElementIsReady)
{
    for (const char* answer : { "field", "other", "" }) {
        SCOPED_TRACE(answer);
        int readings = 0;
        hooks.currentFocusedElementProvider = [this, &readings, answer]() -> AccessibilityElement {
            ++readings;
            sleeper->advance(700ms);
            return *answer ? fakeElement(QString::fromLatin1(answer)) : nullptr;
        };
        auto ready = waitReady(textFieldTarget());
        for (int step = 0; step < 100 && !ready->has_value(); ++step)
            advance(10ms);
        // Other: the wait ends at its limit, 2 s on the clock; no answer at all: the window decides.
        EXPECT_EQ(*ready, std::optional<bool>(QByteArray(answer) != "other"));
        EXPECT_EQ(readings, QByteArray(answer) == "field" ? 2 : 3);
        destroyService();
    }
}

} // namespace
