// Insertion on a desktop where accessibility is on for every application, as while a screen reader
// runs: every toolkit then puts its tree on the accessibility bus, and each focus query meets them all.
#include <chrono>
#include <gtest/gtest.h>

#include <QDBusConnection>
#include <QDBusInterface>
#include <QDBusReply>
#include <QDBusVariant>

#include <qcoro/qcorotask.h>

#include <signal.h>

#include "InsertionTexts.h"
#include "focus/FocusAppService.h"
#include "insertion/TextInsertionService.h"
#include "platform/linux/focus/AtspiAccessibility.h"
#include "platform/linux/focus/EwmhWindowSystem.h"
#include "platform/linux/insertion/QtClipboard.h"
#include "platform/linux/insertion/XTestInputInjector.h"
#include "platform/linux/shortcuts/X11SessionInputProbe.h"
#include "support/Skips.h"
#include "support/async/EventLoopWaits.h"
#include "support/async/TaskRunner.h"
#include "support/focus/TextTargetProcess.h"

using namespace tessvale;
using namespace tessvale::testing;
using namespace std::chrono_literals;

namespace {

using Driver = TextInsertionDriver;

// What a screen reader's setting does: every toolkit started or running makes itself accessible.
bool setScreenReaderEnabled(bool enabled)
{
    QDBusInterface properties(QStringLiteral("org.a11y.Bus"), QStringLiteral("/org/a11y/bus"),
        QStringLiteral("org.freedesktop.DBus.Properties"), QDBusConnection::sessionBus());
    QDBusReply<void> set = properties.call(QStringLiteral("Set"), QStringLiteral("org.a11y.Status"),
        QStringLiteral("ScreenReaderEnabled"), QVariant::fromValue(QDBusVariant(enabled)));
    return set.isValid();
}

struct Target
{
    const char* name;
    const char* program;
    bool multiline;
};

// The GTK 3 text view stands in for an editor such as Mousepad.
constexpr Target targets[] = {
    { "GtkTextView", "tessvale-gtk-text-target", true },
    { "GtkEntry", "tessvale-gtk-text-target", false },
    { "QLineEdit", "tessvale-text-target", false },
};

class AccessibilityForAllApplicationsTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (!hasDesktop())
            TESSVALE_SKIP_WITHOUT_DESKTOP() << "needs the private desktop (scripts/test-env)";
        ASSERT_TRUE(setScreenReaderEnabled(true));
        diagnostics = std::make_shared<FocusedAppDiagnosticsService>(
            std::make_shared<EwmhWindowSystem>(), std::make_shared<AtspiAccessibility>());
    }

    FocusedInsertionTargetRef captureTextField(qint64 pid)
    {
        FocusedInsertionTargetRef target;
        waitUntil(
            [&] {
                target = FocusAppService::currentInsertionTarget(*diagnostics);
                return target && target->application().processIdentifier == pid && target->focusedElement();
            },
            60s);
        return target;
    }

    // Inserts text with driver alone; the error's text when it failed.
    std::optional<std::string> insert(Driver driver, const QString& text, FocusedInsertionTargetRef target)
    {
        TextInsertionHooks hooks;
        hooks.enabledDrivers = QList<Driver> { driver };
        TextInsertionService service(diagnostics, hooks,
            TextInsertionPlatform { std::make_shared<QtClipboard>(),
                std::make_shared<XTestInputInjector>(std::make_shared<SyntheticInputTracker>()), nullptr,
                std::make_shared<X11SessionInputProbe>() });
        try {
            runTask(service.insert(text, false, true, false, std::move(target)), 120s);
        } catch (const std::exception& error) {
            return error.what();
        }
        return std::nullopt;
    }

    std::shared_ptr<FocusedAppDiagnosticsService> diagnostics;
};

class EachTargetAndDriverTest : public AccessibilityForAllApplicationsTest,
                                public ::testing::WithParamInterface<std::tuple<int, Driver>>
{
};

TEST_P(EachTargetAndDriverTest, InsertsIntoTheCapturedField)
{
    const auto [targetIndex, driver] = GetParam();
    const Target& row = targets[targetIndex];
    TextTargetProcess target(QStringLiteral("Tessvale %1").arg(QLatin1String(row.name)), row.multiline, {},
        QString::fromLatin1(row.program));
    ASSERT_TRUE(target.start());
    const FocusedInsertionTargetRef captured = captureTextField(target.processId());
    ASSERT_TRUE(captured && captured->requiresTextFocusRestore());
    const QString text = accentedSample();
    EXPECT_EQ(insert(driver, text, captured), std::nullopt);
    EXPECT_EQ(target.waitForText(text).toStdString(), text.toStdString());
}

INSTANTIATE_TEST_SUITE_P(Targets, EachTargetAndDriverTest,
    ::testing::Combine(
        ::testing::Values(0, 1, 2), ::testing::Values(Driver::pasteboard, Driver::selectedText, Driver::unicodeTyping)),
    [](const auto& row) {
        return std::string(targets[std::get<0>(row.param)].name) + "_" + rawValue(std::get<1>(row.param)).toStdString();
    });

// An application that is accessible only because accessibility is on for all, and too busy to answer
// (stopped here), came onto the bus before the editor the user dictates into.
TEST_F(AccessibilityForAllApplicationsTest, ABusyApplicationElsewhereOnTheBusDoesNotFailTheInsertion)
{
    TextTargetProcess busy(QStringLiteral("Busy"));
    ASSERT_TRUE(busy.start());
    ASSERT_TRUE(captureTextField(busy.processId()));
    ASSERT_EQ(::kill(static_cast<pid_t>(busy.processId()), SIGSTOP), 0);
    TextTargetProcess editor(QStringLiteral("Editor"), true, {}, QStringLiteral("tessvale-gtk-text-target"));
    ASSERT_TRUE(editor.start());
    const FocusedInsertionTargetRef captured = captureTextField(editor.processId());
    ASSERT_TRUE(captured && captured->requiresTextFocusRestore());
    for (Driver driver : { Driver::pasteboard, Driver::unicodeTyping }) {
        SCOPED_TRACE(rawValue(driver).toStdString());
        const QString text = driver == Driver::pasteboard ? QStringLiteral("pasted ") : QStringLiteral("typed");
        const QString before = editor.text();
        EXPECT_EQ(insert(driver, text, captured), std::nullopt);
        EXPECT_EQ(editor.waitForText(before + text).toStdString(), (before + text).toStdString());
    }
    ::kill(static_cast<pid_t>(busy.processId()), SIGCONT);
}

} // namespace
