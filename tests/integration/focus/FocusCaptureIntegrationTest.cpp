#include <chrono>

#include <gtest/gtest.h>

#include "focus/FocusAppService.h"
#include "platform/linux/focus/AtspiAccessibility.h"
#include "platform/linux/focus/EwmhWindowSystem.h"
#include "support/Skips.h"
#include "support/async/EventLoopWaits.h"
#include "support/focus/TextTargetProcess.h"

using namespace tessvale;
using namespace tessvale::testing;
using namespace std::chrono_literals;

namespace {

TEST(FocusCaptureIntegrationTest, ReportsNameProcessRoleAndWindowTitle)
{
    if (!hasDesktop())
        TESSVALE_SKIP_WITHOUT_DESKTOP() << "needs the private desktop (scripts/test-env)";
    TextTargetProcess target(QStringLiteral("Capture Target"), false, QStringLiteral("start"));
    ASSERT_TRUE(target.start());
    FocusedAppDiagnosticsService diagnostics(
        std::make_shared<EwmhWindowSystem>(), std::make_shared<AtspiAccessibility>());
    FocusedInsertionTargetRef captured;
    ASSERT_TRUE(waitUntil(
        [&] {
            captured = FocusAppService::currentInsertionTarget(diagnostics);
            return captured && captured->focusedElement();
        },
        60s));
    EXPECT_EQ(captured->application().name, QStringLiteral("tessvale-text-target"));
    EXPECT_EQ(captured->application().processIdentifier, target.processId());
    EXPECT_EQ(captured->focusedElementRole(), QStringLiteral("AXTextField"));
    EXPECT_EQ(captured->focusedElementTitle(), QStringLiteral("Target field"));
    EXPECT_TRUE(captured->requiresTextFocusRestore());
    EXPECT_EQ(diagnostics.role(captured->focusedWindow()), QStringLiteral("AXWindow"));
    EXPECT_EQ(diagnostics.windowSystem().frontmostApplication()->windowTitle, QStringLiteral("Capture Target"));

    const auto reading = diagnostics.current();
    ASSERT_TRUE(reading);
    EXPECT_TRUE(reading->canSetValue);
    EXPECT_TRUE(reading->canSetSelectedText);
    EXPECT_TRUE(reading->canSetSelectedTextRange);
    EXPECT_TRUE(reading->supportsUnicodeTypingFallback);
    EXPECT_EQ(reading->detailedSummary(),
        QStringLiteral("tessvale-text-target pid=%1 role=AXTextField title=Target field").arg(target.processId()));
}

TEST(FocusCaptureIntegrationTest, AnApplicationWithoutAccessibilityGivesAnApplicationOnlyTarget)
{
    if (!hasDesktop())
        TESSVALE_SKIP_WITHOUT_DESKTOP() << "needs the private desktop (scripts/test-env)";
    DesktopProcess xterm;
    ASSERT_TRUE(xterm.start(QStringLiteral("xterm"), { QStringLiteral("-title"), QStringLiteral("Plain Terminal") }));
    FocusedAppDiagnosticsService diagnostics(
        std::make_shared<EwmhWindowSystem>(), std::make_shared<AtspiAccessibility>());
    FocusedInsertionTargetRef captured;
    ASSERT_TRUE(waitUntil(
        [&] {
            captured = FocusAppService::currentInsertionTarget(diagnostics);
            return captured && captured->application().processIdentifier == xterm.processId();
        },
        60s));
    EXPECT_EQ(captured->application().name, QStringLiteral("XTerm"));
    EXPECT_FALSE(captured->focusedElement());
    EXPECT_FALSE(captured->requiresTextFocusRestore());
    EXPECT_EQ(diagnostics.windowSystem().frontmostApplication()->windowTitle, QStringLiteral("Plain Terminal"));
}

} // namespace
