#include <gtest/gtest.h>

#include "focus/FocusAppService.h"
#include "support/focus/FakeFocusPlatform.h"

using namespace tessvale;
using namespace tessvale::testing;

namespace {

class FocusCaptureTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        windows = std::make_shared<FakeWindowSystem>();
        accessibility = std::make_shared<FakeAccessibility>();
        service = std::make_unique<FocusedAppDiagnosticsService>(windows, accessibility);
        windows->frontmost = FrontmostApplication { QStringLiteral("Notes"), QStringLiteral("notes"), 4242,
            QStringLiteral("Draft"), 7 };
    }

    void focusField(const QString& id)
    {
        accessibility->focused = fakeElement(id);
        accessibility->windows[id] = fakeElement(QStringLiteral("window"));
        accessibility->strings[{ id, AccessibilityStringAttribute::role }] = QStringLiteral("AXTextField");
        accessibility->strings[{ id, AccessibilityStringAttribute::title }] = QStringLiteral("Subject");
    }

    std::shared_ptr<FakeWindowSystem> windows;
    std::shared_ptr<FakeAccessibility> accessibility;
    std::unique_ptr<FocusedAppDiagnosticsService> service;
};

TEST_F(FocusCaptureTest, NoFrontmostApplicationGivesNoTarget)
{
    windows->frontmost.reset();
    EXPECT_EQ(FocusAppService::currentInsertionTarget(*service), nullptr);
    EXPECT_FALSE(FocusAppService::currentApplicationName(*service));
    EXPECT_FALSE(service->current());
}

TEST_F(FocusCaptureTest, ApplicationWithoutNameIsUnknownApp)
{
    windows->frontmost->name.clear();
    EXPECT_EQ(FocusAppService::currentApplicationName(*service), QStringLiteral("Unknown App"));
    EXPECT_EQ(service->current()->appName, QStringLiteral("Unknown App"));
}

TEST_F(FocusCaptureTest, WithoutFocusedElementTargetNamesOnlyTheApplication)
{
    const auto target = FocusAppService::currentInsertionTarget(*service);
    ASSERT_NE(target, nullptr);
    EXPECT_EQ(target->application(), (FocusedApplicationTarget { QStringLiteral("Notes"), 4242 }));
    EXPECT_EQ(target->windowId(), windows->frontmost->windowId);
    EXPECT_FALSE(target->focusedElement());
    EXPECT_FALSE(target->focusedWindow());
    EXPECT_FALSE(target->requiresTextFocusRestore());
    EXPECT_EQ(target->summary(), QStringLiteral("Notes pid=4242 role=unknown-role requiresTextFocusRestore=false"));
    EXPECT_EQ(target->userFacingLocationSummary(), QStringLiteral("Notes"));
}

TEST_F(FocusCaptureTest, CapturesElementWindowRoleAndTitle)
{
    focusField(QStringLiteral("field"));
    accessibility->settable[{ QStringLiteral("field"), AccessibilitySettableAttribute::value }] = true;
    const auto target = FocusAppService::currentInsertionTarget(*service);
    ASSERT_NE(target, nullptr);
    EXPECT_TRUE(
        FocusedAppDiagnosticsService::sameElement(target->focusedElement(), fakeElement(QStringLiteral("field"))));
    EXPECT_TRUE(
        FocusedAppDiagnosticsService::sameElement(target->focusedWindow(), fakeElement(QStringLiteral("window"))));
    EXPECT_EQ(target->focusedElementRole(), QStringLiteral("AXTextField"));
    EXPECT_EQ(target->focusedElementTitle(), QStringLiteral("Subject"));
    EXPECT_TRUE(target->requiresTextFocusRestore());
    EXPECT_EQ(target->userFacingLocationSummary(), QStringLiteral("Notes / AXTextField / \"Subject\""));
}

TEST_F(FocusCaptureTest, SettableSelectedTextRangeAloneMakesATextInput)
{
    focusField(QStringLiteral("field"));
    accessibility->settable[{ QStringLiteral("field"), AccessibilitySettableAttribute::value }]
        = std::nullopt; // query fails
    accessibility->settable[{ QStringLiteral("field"), AccessibilitySettableAttribute::selectedTextRange }] = true;
    EXPECT_TRUE(FocusAppService::currentInsertionTarget(*service)->requiresTextFocusRestore());
}

TEST_F(FocusCaptureTest, SettabilityQueriesStopAtTheFirstSettable)
{
    focusField(QStringLiteral("field"));
    accessibility->settable[{ QStringLiteral("field"), AccessibilitySettableAttribute::value }] = true;
    EXPECT_TRUE(service->isTextInputElement(accessibility->focused));
    EXPECT_EQ(accessibility->calls.size(), 1);
}

TEST_F(FocusCaptureTest, LocationSummarySkipsEmptyTitle)
{
    const FocusedInsertionTarget target(
        { QStringLiteral("Notes"), 1 }, nullptr, nullptr, QStringLiteral("AXTextArea"), QString(), true);
    EXPECT_EQ(target.userFacingLocationSummary(), QStringLiteral("Notes / AXTextArea"));
    const FocusedInsertionTarget emptyRole(
        { QStringLiteral("Notes"), 1 }, nullptr, nullptr, QString(), std::nullopt, true);
    EXPECT_EQ(emptyRole.summary(), QStringLiteral("Notes pid=1 role= requiresTextFocusRestore=true"));
}

TEST_F(FocusCaptureTest, DiagnosticsReadEveryFlagSeparately)
{
    focusField(QStringLiteral("field"));
    accessibility->strings[{ QStringLiteral("field"), AccessibilityStringAttribute::subrole }]
        = QStringLiteral("AXSearchField");
    accessibility->settable[{ QStringLiteral("field"), AccessibilitySettableAttribute::selectedText }] = true;
    accessibility->trusted = false;
    const auto diagnostics = service->current();
    ASSERT_TRUE(diagnostics);
    EXPECT_EQ(diagnostics->processIdentifier, 4242);
    EXPECT_EQ(diagnostics->bundleIdentifier, QStringLiteral("notes"));
    EXPECT_EQ(diagnostics->subrole, QStringLiteral("AXSearchField"));
    EXPECT_FALSE(diagnostics->canSetValue);
    EXPECT_TRUE(diagnostics->canSetSelectedText);
    EXPECT_FALSE(diagnostics->canSetSelectedTextRange);
    EXPECT_FALSE(diagnostics->supportsUnicodeTypingFallback);
}

TEST_F(FocusCaptureTest, DiagnosticsWithoutElementKeepApplicationAndTrust)
{
    const auto diagnostics = service->current();
    ASSERT_TRUE(diagnostics);
    EXPECT_EQ(diagnostics->appName, QStringLiteral("Notes"));
    EXPECT_FALSE(diagnostics->role || diagnostics->subrole || diagnostics->title);
    EXPECT_FALSE(diagnostics->canSetValue || diagnostics->canSetSelectedText || diagnostics->canSetSelectedTextRange);
    EXPECT_TRUE(diagnostics->supportsUnicodeTypingFallback);
}

TEST(FocusedAppDiagnosticsSummaries, SummaryNamesMissingBundleAndRole)
{
    FocusedAppDiagnostics diagnostics;
    diagnostics.appName = QStringLiteral("Notes");
    diagnostics.processIdentifier = 12;
    EXPECT_EQ(diagnostics.summary(), QStringLiteral("Notes (unknown-bundle) role=unknown-role"));
    diagnostics.bundleIdentifier = QStringLiteral("notes");
    diagnostics.role = QStringLiteral("AXTextArea");
    diagnostics.subrole = QStringLiteral("AXSecureTextField");
    EXPECT_EQ(diagnostics.summary(), QStringLiteral("Notes (notes) role=AXTextArea"));
}

TEST(FocusedAppDiagnosticsSummaries, DetailedSummaryShowsOnlyNonEmptyTitle)
{
    FocusedAppDiagnostics diagnostics;
    diagnostics.appName = QStringLiteral("Notes");
    diagnostics.processIdentifier = 12;
    diagnostics.title = QString();
    EXPECT_EQ(diagnostics.detailedSummary(), QStringLiteral("Notes pid=12 role=unknown-role"));
    diagnostics.title = QStringLiteral("Draft");
    EXPECT_EQ(diagnostics.detailedSummary(), QStringLiteral("Notes pid=12 role=unknown-role title=Draft"));
}

TEST(FocusedAppDiagnosticsSummaries, ReadingsDifferingOnlyInSubroleAreNotEqual)
{
    FocusedAppDiagnostics a;
    FocusedAppDiagnostics b;
    b.subrole = QStringLiteral("AXSearchField");
    EXPECT_NE(a, b);
}

TEST(FocusedAppDiagnosticsSummaries, SameElementNeedsBothPresentAndEqual)
{
    const auto field = fakeElement(QStringLiteral("field"));
    EXPECT_FALSE(FocusedAppDiagnosticsService::sameElement(field, nullptr));
    EXPECT_FALSE(FocusedAppDiagnosticsService::sameElement(nullptr, nullptr));
    EXPECT_TRUE(FocusedAppDiagnosticsService::sameElement(field, fakeElement(QStringLiteral("field"))));
    EXPECT_FALSE(FocusedAppDiagnosticsService::sameElement(field, fakeElement(QStringLiteral("other"))));
}

} // namespace
