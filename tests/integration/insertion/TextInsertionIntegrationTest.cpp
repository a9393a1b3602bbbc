#include <chrono>
#include <gtest/gtest.h>

#include <QClipboard>
#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QMimeData>
#include <QTemporaryDir>
#include <QTimer>

#include <qcoro/qcorotask.h>

#include "InsertionTexts.h"
#include "focus/FocusAppService.h"
#include "insertion/TextInsertionService.h"
#include "platform/linux/X11Connection.h"
#include "platform/linux/focus/AtspiAccessibility.h"
#include "platform/linux/focus/EwmhWindowSystem.h"
#include "platform/linux/insertion/QtClipboard.h"
#include "platform/linux/insertion/XTestInputInjector.h"
#include "platform/linux/shortcuts/X11SessionInputProbe.h"
#include "support/HelperPrograms.h"
#include "support/Skips.h"
#include "support/async/EventLoopWaits.h"
#include "support/async/TaskRunner.h"
#include "support/focus/TextTargetProcess.h"

#include <X11/Xlib.h>

using namespace tessvale;
using namespace tessvale::testing;
using namespace std::chrono_literals;

namespace {

using Driver = TextInsertionDriver;

// Runs the insertion on the real event loop; rethrows what it threw.
TextInsertionResult run(QCoro::Task<TextInsertionResult> task)
{
    return runTask(std::move(task), 60s);
}

class DesktopTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (!hasDesktop())
            TESSVALE_SKIP_WITHOUT_DESKTOP() << "needs the private desktop (scripts/test-env)";
        diagnostics = std::make_shared<FocusedAppDiagnosticsService>(
            std::make_shared<EwmhWindowSystem>(), std::make_shared<AtspiAccessibility>());
    }

    // The focused field of the target, once the accessibility bus shows it.
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

    // The bare Xlib target, which takes the keyboard focus itself, captured without an element.
    static FocusedInsertionTargetRef startXlibTarget(
        DesktopProcess& target, const QString& report, QStringList arguments = {})
    {
        arguments << QStringLiteral("--report") << report;
        if (!target.start(helperProgramPath(QStringLiteral("tessvale-xlib-text-target")), arguments)
            || !target.waitForReadyLine())
            return nullptr;
        return std::make_shared<const FocusedInsertionTarget>(
            FocusedApplicationTarget { QStringLiteral("Target"), static_cast<qint32>(target.processId()) }, nullptr,
            nullptr, std::nullopt, std::nullopt, false);
    }

    std::unique_ptr<TextInsertionService> makeService(QList<Driver> drivers, TextInsertionHooks hooks = {})
    {
        hooks.enabledDrivers = std::move(drivers);
        TextInsertionPlatform platform { std::make_shared<QtClipboard>(),
            std::make_shared<XTestInputInjector>(std::make_shared<SyntheticInputTracker>()), nullptr,
            std::make_shared<X11SessionInputProbe>() };
        return std::make_unique<TextInsertionService>(diagnostics, std::move(hooks), std::move(platform));
    }

    static std::optional<TextInsertionError::Case> insertionError(
        TextInsertionService& service, const QString& text, FocusedInsertionTargetRef target)
    {
        try {
            run(service.insert(text, false, true, false, std::move(target)));
        } catch (const TextInsertionError& error) {
            return error.errorCase();
        } catch (...) {
        }
        return std::nullopt;
    }

    std::shared_ptr<FocusedAppDiagnosticsService> diagnostics;
};

class EachDriverTest : public DesktopTest, public ::testing::WithParamInterface<std::tuple<Driver, int>>
{
};

TEST_P(EachDriverTest, InsertsTheTextExactly)
{
    const auto [driver, sample] = GetParam();
    const QString text = sample == 0 ? accentedSample() : capitalAccentedParagraph();
    TextTargetProcess target;
    ASSERT_TRUE(target.start());
    const auto captured = captureTextField(target.processId());
    ASSERT_TRUE(captured && captured->focusedElement());
    auto service = makeService({ driver });
    try {
        const TextInsertionResult result = run(service->insert(text, false, true, false, captured));
        EXPECT_EQ(result.driver, driver);
    } catch (const std::exception& error) {
        ADD_FAILURE() << error.what();
    }
    EXPECT_EQ(target.waitForText(text).toStdString(), text.toStdString());
}

INSTANTIATE_TEST_SUITE_P(Drivers, EachDriverTest,
    ::testing::Combine(
        ::testing::Values(Driver::pasteboard, Driver::selectedText, Driver::unicodeTyping), ::testing::Values(0, 1)),
    [](const auto& row) {
        return rawValue(std::get<0>(row.param)).toStdString() + (std::get<1>(row.param) == 0 ? "Sample" : "Paragraph");
    });

TEST_F(DesktopTest, PasteReachesARawCatInAnXterm)
{
    QTemporaryDir dir;
    const QString output = dir.filePath(QStringLiteral("cat.txt"));
    DesktopProcess xterm;
    ASSERT_TRUE(xterm.start(QStringLiteral("xterm"),
        { QStringLiteral("-u8"), QStringLiteral("-e"), QStringLiteral("sh"), QStringLiteral("-c"),
            QStringLiteral("stty raw -echo; exec cat > '%1'").arg(output) },
        { QStringLiteral("LC_ALL=C.UTF-8"), QStringLiteral("LANG=C.UTF-8") }));
    FocusedInsertionTargetRef captured;
    ASSERT_TRUE(waitUntil(
        [&] {
            captured = FocusAppService::currentInsertionTarget(*diagnostics);
            // The shell makes the file only once it has switched the terminal to raw mode.
            return captured && captured->application().processIdentifier == xterm.processId() && QFile::exists(output);
        },
        60s));
    auto service = makeService({ Driver::pasteboard });
    const QString text = accentedSample() + QLatin1Char(' ') + capitalAccentedParagraph();
    run(service->insert(text, false, true, false, captured));
    QString arrived;
    waitUntil(
        [&] {
            QFile file(output);
            arrived = file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
            return arrived == text;
        },
        60s);
    EXPECT_EQ(arrived, text);
}

TEST_F(DesktopTest, PasteRestoresThePreviousClipboardAndPrimary)
{
    QClipboard* clipboard = QGuiApplication::clipboard();
    clipboard->setText(QStringLiteral("previous clipboard ✓"), QClipboard::Clipboard);
    clipboard->setText(QStringLiteral("previous primary"), QClipboard::Selection);
    TextTargetProcess target;
    ASSERT_TRUE(target.start());
    auto service = makeService({ Driver::pasteboard });
    run(service->insert(accentedSample(), false, true, false, captureTextField(target.processId())));
    EXPECT_EQ(target.waitForText(accentedSample()), accentedSample());
    EXPECT_EQ(clipboard->text(QClipboard::Clipboard), QStringLiteral("previous clipboard ✓"));
    EXPECT_EQ(clipboard->text(QClipboard::Selection), QStringLiteral("previous primary"));
}

TEST_F(DesktopTest, PasteLeavesEmptySelectionsEmpty)
{
    QClipboard* clipboard = QGuiApplication::clipboard();
    clipboard->clear(QClipboard::Clipboard);
    clipboard->clear(QClipboard::Selection);
    TextTargetProcess target;
    ASSERT_TRUE(target.start());
    auto service = makeService({ Driver::pasteboard });
    run(service->insert(QStringLiteral("dictated"), false, true, false, captureTextField(target.processId())));
    EXPECT_EQ(target.waitForText(QStringLiteral("dictated")), QStringLiteral("dictated"));
    EXPECT_TRUE(clipboard->text(QClipboard::Clipboard).isEmpty());
    EXPECT_TRUE(clipboard->text(QClipboard::Selection).isEmpty());
}

TEST_F(DesktopTest, AClipboardOwnerThatNeverAnswersOrNeverStopsKeepsItsClipboardAndTheTextIsTyped)
{
    const QStringList owners[] = {
        { QStringLiteral("--text"), QStringLiteral("copied"), QStringLiteral("--silent"), QStringLiteral("TARGETS") },
        { QStringLiteral("--text"), QStringLiteral("copied"), QStringLiteral("--endless"), QStringLiteral("1048576") },
    };
    for (const QStringList& arguments : owners) {
        SCOPED_TRACE(arguments.join(QLatin1Char(' ')).toStdString());
        DesktopProcess owner;
        ASSERT_TRUE(owner.start(helperProgramPath(QStringLiteral("tessvale-selection-owner")), arguments));
        ASSERT_TRUE(owner.waitForReadyLine());
        TextTargetProcess target;
        ASSERT_TRUE(target.start());
        auto service = makeService({ Driver::pasteboard, Driver::unicodeTyping });
        const TextInsertionResult result = run(
            service->insert(QStringLiteral("dictated"), false, true, false, captureTextField(target.processId())));
        EXPECT_EQ(result.driver, Driver::unicodeTyping);
        EXPECT_EQ(target.waitForText(QStringLiteral("dictated")), QStringLiteral("dictated"));
        // The owner quits when it loses the clipboard.
        QCoreApplication::processEvents();
        EXPECT_EQ(owner.process().state(), QProcess::Running);
    }
}

TEST_F(DesktopTest, TheMainLoopRunsWhileTheSnapshotReadsAnOwnerThatNeverStopsSending)
{
    DesktopProcess owner;
    ASSERT_TRUE(owner.start(helperProgramPath(QStringLiteral("tessvale-selection-owner")),
        { QStringLiteral("--text"), QStringLiteral("copied"), QStringLiteral("--endless"),
            QStringLiteral("1048576") }));
    ASSERT_TRUE(owner.waitForReadyLine());
    auto service = makeService({ Driver::pasteboard });
    auto outcome = std::make_shared<TaskOutcome<void>>();
    int turnsDuringPaste = 0;
    QTimer loop;
    loop.setInterval(0);
    QObject::connect(&loop, &QTimer::timeout, [&] { turnsDuringPaste += outcome->done ? 0 : 1; });
    loop.start();
    auto paste = captureTask<void>(service->insertWithPasteboard(QStringLiteral("dictated"), true), outcome);
    ASSERT_TRUE(waitUntil([&] { return outcome->done; }));
    EXPECT_GT(turnsDuringPaste, 0);
    // Still not read whole: the paste is not made over it.
    try {
        std::rethrow_exception(outcome->error);
    } catch (const TextInsertionError& error) {
        EXPECT_EQ(error.errorCase(), TextInsertionError::clipboardUnreadable);
    } catch (...) {
        ADD_FAILURE() << "the paste did not end with the clipboard unread";
    }
}

TEST_F(DesktopTest, APasteTheApplicationDoesNotTakeIsNoSuccessWhateverElseReadsTheClipboard)
{
    // Reads both selections each time their owner changes, as clipboard managers do.
    DesktopProcess watcher;
    ASSERT_TRUE(watcher.start(helperProgramPath(QStringLiteral("tessvale-clipboard-watcher")), {}));
    ASSERT_TRUE(watcher.waitForReadyLine());
    QGuiApplication::clipboard()->setText(QStringLiteral("previous clipboard"), QClipboard::Clipboard);
    // A window with the keyboard focus that reads its keys but has no paste.
    QTemporaryDir dir;
    DesktopProcess target;
    const auto captured = startXlibTarget(target, dir.filePath(QStringLiteral("report.txt")));
    ASSERT_TRUE(captured);
    auto service = makeService({ Driver::pasteboard, Driver::unicodeTyping });
    EXPECT_EQ(insertionError(*service, QStringLiteral("dictated"), captured), TextInsertionError::pasteNotTaken);
    // The watcher did fetch the transcript: that was not the paste.
    QByteArray seen;
    EXPECT_TRUE(waitUntil([&] {
        seen += watcher.process().readAllStandardOutput();
        return seen.contains("READ CLIPBOARD 8\n") || seen.contains("READ PRIMARY 8\n");
    })) << seen.toStdString();
    // A late paste would get the transcript, not the user's clipboard.
    EXPECT_EQ(QGuiApplication::clipboard()->text(QClipboard::Clipboard), QStringLiteral("dictated"));
}

TEST_F(DesktopTest, APasteAskedForInAMultipleRequestCountsAndThePreviousClipboardComesBack)
{
    QGuiApplication::clipboard()->setText(QStringLiteral("previous clipboard"), QClipboard::Clipboard);
    QTemporaryDir dir;
    const QString report = dir.filePath(QStringLiteral("report.txt"));
    DesktopProcess target;
    const auto captured = startXlibTarget(target, report, { QStringLiteral("--paste-multiple") });
    ASSERT_TRUE(captured);
    auto service = makeService({ Driver::pasteboard });
    EXPECT_EQ(insertionError(*service, QStringLiteral("dictated"), captured), std::nullopt);
    EXPECT_TRUE(waitUntil([&] {
        QFile file(report);
        return file.open(QIODevice::ReadOnly) && file.readAll() == "dictated";
    }));
    EXPECT_EQ(QGuiApplication::clipboard()->text(QClipboard::Clipboard), QStringLiteral("previous clipboard"));
}

TEST_F(DesktopTest, TargetThatEndedFailsWithUnableToRestoreFocusAndLeavesTheOtherWindowAlone)
{
    TextTargetProcess first(QStringLiteral("First"));
    ASSERT_TRUE(first.start());
    const auto captured = captureTextField(first.processId());
    ASSERT_TRUE(captured);
    TextTargetProcess second(QStringLiteral("Second"));
    ASSERT_TRUE(second.start());
    first.kill();
    auto service = makeService({ Driver::pasteboard, Driver::selectedText, Driver::unicodeTyping });
    EXPECT_EQ(
        insertionError(*service, QStringLiteral("misplaced"), captured), TextInsertionError::unableToRestoreFocus);
    spinEventLoop(300ms);
    EXPECT_EQ(second.text(), QString());
}

TEST_F(DesktopTest, TargetThatCannotBeBroughtBackIsNeverTypedIntoAnotherWindow)
{
    TextTargetProcess first(QStringLiteral("First"));
    ASSERT_TRUE(first.start());
    TextTargetProcess second(QStringLiteral("Second"));
    ASSERT_TRUE(second.start());
    // An application-level target (no text field) whose window the window manager does not raise.
    const auto captured = std::make_shared<const FocusedInsertionTarget>(
        FocusedApplicationTarget { QStringLiteral("First"), static_cast<qint32>(first.processId()) }, nullptr, nullptr,
        std::nullopt, std::nullopt, false);
    TextInsertionHooks hooks;
    hooks.appActivator = [](qint32, CancelToken) -> QCoro::Task<bool> { co_return false; };
    auto service = makeService({ Driver::pasteboard, Driver::unicodeTyping }, hooks);
    EXPECT_EQ(
        insertionError(*service, QStringLiteral("misplaced"), captured), TextInsertionError::unableToRestoreFocus);
    spinEventLoop(300ms);
    EXPECT_EQ(second.text(), QString());
    EXPECT_EQ(first.text(), QString());
}

TEST_F(DesktopTest, TypingStopsOnceTheKeysGoElsewhereThoughTheWindowManagerHasNotSaidSo)
{
    TextTargetProcess other(QStringLiteral("Other"));
    ASSERT_TRUE(other.start());
    TextTargetProcess target(QStringLiteral("Target"));
    ASSERT_TRUE(target.start());
    const auto captured = captureTextField(target.processId());
    ASSERT_TRUE(captured);
    // The keys go to the target before the insertion starts.
    EwmhWindowSystem windows;
    ASSERT_TRUE(waitUntil([&] {
        const auto keys = windows.keyboardFocusWindow();
        return keys && keys->windowId == captured->windowId();
    }));
    // A busy window manager: its active window stays the target's while the input focus moves.
    TextInsertionHooks hooks;
    const auto pid = static_cast<qint32>(target.processId());
    const quint64 window = captured->windowId();
    hooks.currentFrontmostApplicationPID = [pid]() -> std::optional<qint32> { return pid; };
    hooks.currentFrontmostWindowID = [window] { return window; };
    auto service = makeService({ Driver::unicodeTyping }, hooks);
    const auto connection = X11Connection::open();
    ASSERT_TRUE(connection);
    // Once the first characters arrived, another client takes the input focus.
    QTimer focusThief;
    QObject::connect(&focusThief, &QTimer::timeout, [&] {
        if (target.text().isEmpty())
            return;
        XSetInputFocus(connection->display(), static_cast<Window>(other.windowId()), RevertToParent, CurrentTime);
        XSync(connection->display(), False);
        focusThief.stop();
    });
    focusThief.start(1);
    const QString text = manyDistinctCharacters();
    std::optional<TextInsertionError> error;
    try {
        run(service->insert(text, false, true, false, captured));
    } catch (const TextInsertionError& e) {
        error = e;
    }
    ASSERT_TRUE(error) << "reported success; the target has " << target.text().toStdString();
    ASSERT_EQ(error->errorCase(), TextInsertionError::transcriptPartlyInserted);
    const QString arrived = text.left(error->insertedCharacters());
    EXPECT_EQ(target.waitForText(arrived), arrived);
    spinEventLoop(300ms);
    EXPECT_EQ(other.text(), QString());
}

TEST_F(DesktopTest, TypingFiveHundredMixedCharactersIsExact)
{
    TextTargetProcess target;
    ASSERT_TRUE(target.start());
    const auto captured = captureTextField(target.processId());
    auto service = makeService({ Driver::unicodeTyping });
    const QString text = mixedTypingText();
    QElapsedTimer timer;
    timer.start();
    run(service->insert(text, false, true, false, captured));
    const double seconds = timer.nsecsElapsed() / 1e9;
    const QString arrived = target.waitForText(text);
    EXPECT_EQ(arrived, text);
    for (qsizetype i = 0; i < std::min(arrived.size(), text.size()); ++i) {
        if (arrived[i] != text[i]) {
            ADD_FAILURE() << "first difference at " << i << ": " << arrived.mid(i, 20).toStdString() << " vs "
                          << text.mid(i, 20).toStdString();
            break;
        }
    }
    const double rate = characterCount(text) / seconds;
    RecordProperty("charactersPerSecond", static_cast<int>(rate));
    // Shown, not asserted: the speed is a benchmark's (bench/insertion/UnicodeTypingBench), a loaded
    // machine types slower.
    std::printf("typed %lld characters in %.3f s (%.0f characters per second)\n",
        static_cast<long long>(characterCount(text)), seconds, rate);
}

} // namespace
