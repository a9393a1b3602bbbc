#include <gtest/gtest.h>

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShortcut>
#include <QTest>
#include <QVBoxLayout>

#include "coordinator/DictationCoordinatorTestAccess.h"
#include "platform/SyntheticInputTracker.h"
#include "platform/linux/shortcuts/X11KeyCodeTranslator.h"
#include "platform/linux/shortcuts/X11KeyGrabber.h"
#include "platform/linux/shortcuts/X11KeySource.h"
#include "platform/linux/shortcuts/X11SessionInputProbe.h"
#include "settings/ModifierKeyCodes.h"
#include "support/Skips.h"
#include "support/async/EventLoopWaits.h"
#include "support/coordinator/CoordinatorHarness.h"
#include "support/focus/TextTargetProcess.h"
#include "support/settings/VocabularyPrinters.h"
#include "support/shortcuts/FakeKeySource.h"
#include "support/shortcuts/FakeSessionInputProbe.h"
#include "windows/shortcuts/ShortcutBindingEditorRow.h"
#include "windows/shortcuts/ShortcutSettingsCard.h"
#include "wiring/AppWiring.h"

#include "support/shortcuts/XTestKeyboard.h"
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

using namespace tessvale;
using namespace std::chrono_literals;
using tessvale::testing::hasDesktop;
using tessvale::testing::XTestKeyboard;
using Gesture = ShortcutGesture;

namespace {

constexpr ShortcutModifiers control = ShortcutModifiers::control;
constexpr ShortcutModifiers option = ShortcutModifiers::option;

DictationShortcutEngine::MonitorFactory fakeMonitors(Sleeper& sleeper)
{
    return [&sleeper] {
        return std::make_unique<KeyboardEventMonitor>(std::make_unique<FakeKeySource>(),
            std::make_unique<FakeKeyGrabber>(), sleeper, std::make_unique<FakeSessionInputProbe>(),
            std::make_shared<SyntheticInputTracker>());
    };
}

// A window holding a line edit (focused) above the card, as the Settings window would.
struct EditorWindow
{
    explicit EditorWindow(
        AppSettings& settings, DictationCoordinator& coordinator, ShortcutEngineSuspension* suspension)
    {
        auto* layout = new QVBoxLayout(&widget);
        edit = new QLineEdit(&widget);
        layout->addWidget(edit);
        card = new ShortcutSettingsCard(settings, coordinator, suspension, &widget);
        layout->addWidget(card);
        widget.show();
        widget.activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(&widget));
        // A loaded window manager may still move the focus once more: a recording would end with it.
        EXPECT_TRUE(waitUntil([&] { return tessvale::testing::activeWindowId() == widget.winId(); }));
        EXPECT_TRUE(QTest::qWaitForWindowActive(&widget));
        edit->setFocus();
    }

    // QTest sends the presses (and releases) of the modifier keys in modifiers itself.
    void press(int key, Qt::KeyboardModifiers modifiers = {}) { QTest::keyPress(edit, Qt::Key(key), modifiers); }
    void release(int key, Qt::KeyboardModifiers modifiers = {}) { QTest::keyRelease(edit, Qt::Key(key), modifiers); }

    QWidget widget;
    QLineEdit* edit;
    ShortcutSettingsCard* card;
};

class ShortcutEditorTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (!hasDesktop())
            TESSVALE_SKIP_WITHOUT_DESKTOP() << "needs the private desktop (scripts/test-env)";
        wiring
            = std::make_unique<ShortcutWiring>(h.settings(), h.coordinator(), fakeMonitors(h.sleeper()), h.sleeper());
        wiring->start();
        window = std::make_unique<EditorWindow>(h.settings(), h.coordinator(), wiring.get());
    }
    void TearDown() override
    {
        window.reset();
        wiring.reset();
        h.settle();
    }

    ShortcutBindingEditorRow& pushToTalk() { return *window->card->pushToTalkRow(); }
    ShortcutBindingEditorRow& handsFree() { return *window->card->handsFreeRow(); }
    void record(ShortcutBindingEditorRow& row)
    {
        // The button is as wide as its title, before the hint appears beside it and after.
        QPushButton* button = row.recordButton();
        QCoreApplication::processEvents();
        const int left = button->x();
        EXPECT_EQ(button->width(), button->sizeHint().width());
        QTest::mouseClick(button, Qt::LeftButton);
        ASSERT_TRUE(row.isRecording());
        ASSERT_TRUE(wiring->isSuspended());
        QCoreApplication::processEvents();
        EXPECT_EQ(button->x(), left);
        EXPECT_EQ(button->width(), button->sizeHint().width());
    }
    void expectIdleAndListening(ShortcutBindingEditorRow& row)
    {
        EXPECT_FALSE(row.isRecording());
        EXPECT_EQ(row.recordButton()->text(), "Record Shortcut");
        EXPECT_TRUE(row.hintLabel()->isHidden());
        EXPECT_FALSE(wiring->isSuspended());
        EXPECT_TRUE(wiring->engine().isMonitoring());
    }

    CoordinatorHarness h;
    std::unique_ptr<ShortcutWiring> wiring;
    std::unique_ptr<EditorWindow> window;
};

} // namespace

TEST_F(ShortcutEditorTest, HoldDoubleTapAndComboAreRecordedFromKeyEventsAndReachTheEngine)
{
    int quits = 0;
    QShortcut quit(QKeySequence(Qt::CTRL | Qt::Key_Q), &window->widget);
    QObject::connect(&quit, &QShortcut::activated, [&] { ++quits; });

    // Hold: Control, then Super, released in any order.
    record(pushToTalk());
    EXPECT_EQ(pushToTalk().hintLabel()->text(),
        "Press and release the modifier shortcut you want to hold, like Control + Alt.");
    EXPECT_EQ(pushToTalk().recordButton()->text(), "Cancel Recording");
    window->press(Qt::Key_Control);
    window->press(Qt::Key_Meta);
    window->release(Qt::Key_Control);
    EXPECT_TRUE(pushToTalk().isRecording());
    window->release(Qt::Key_Meta);
    const ShortcutBinding held { Gesture::holdModifiers, control | ShortcutModifiers::command, std::nullopt };
    EXPECT_EQ(h.settings().pushToTalkShortcut(), held);
    EXPECT_EQ(pushToTalk().bindingLabel()->text(), "Hold Control + Super");
    expectIdleAndListening(pushToTalk());
    EXPECT_EQ(wiring->engine().pushToTalkBinding(), held);

    // Double tap: Alt pressed and released once.
    record(handsFree());
    window->press(Qt::Key_Alt);
    window->release(Qt::Key_Alt);
    EXPECT_EQ(h.settings().handsFreeToggleShortcut(),
        (ShortcutBinding { Gesture::doubleTapModifiers, option, std::nullopt }));
    expectIdleAndListening(handsFree());

    // Combo at the press: Control + Q is captured, the window's own Control + Q does not fire.
    record(handsFree());
    window->press(Qt::Key_Control);
    window->press(Qt::Key_Q, Qt::ControlModifier);
    const ShortcutBinding combo { Gesture::keyComboPress, control, MacKeyCode::q };
    EXPECT_EQ(h.settings().handsFreeToggleShortcut(), combo);
    EXPECT_EQ(wiring->engine().handsFreeBinding(), combo);
    EXPECT_EQ(handsFree().subtitleLabel()->text(),
        "Press Control + Q to start hands-free. While it is active, press Control + Q again or press Control + Super "
        "to stop.");
    expectIdleAndListening(handsFree());
    window->release(Qt::Key_Q);
    window->release(Qt::Key_Control);
    EXPECT_EQ(quits, 0);
    EXPECT_EQ(window->edit->text(), "");
}

TEST_F(ShortcutEditorTest, EscapeCancelsAndARefusalIsShownWithTheOldBindingKept)
{
    int escapes = 0;
    QShortcut escape(QKeySequence(Qt::Key_Escape), &window->widget);
    QObject::connect(&escape, &QShortcut::activated, [&] { ++escapes; });

    // Escape with a modifier held, in both roles.
    for (ShortcutBindingEditorRow* row : { &pushToTalk(), &handsFree() }) {
        const ShortcutBinding before = row->binding();
        record(*row);
        window->press(Qt::Key_Control);
        window->press(Qt::Key_Escape, Qt::ControlModifier);
        expectIdleAndListening(*row);
        window->release(Qt::Key_Control);
        EXPECT_EQ(row->binding(), before);
    }
    EXPECT_EQ(escapes, 0);
    EXPECT_EQ(wiring->configurationCount(), 1);

    // Shift alone is captured, refused and shown; nothing is assigned.
    record(pushToTalk());
    window->press(Qt::Key_Shift);
    window->release(Qt::Key_Shift);
    expectIdleAndListening(pushToTalk());
    EXPECT_EQ(h.settings().pushToTalkShortcut(), ShortcutBinding::defaultPushToTalk);
    EXPECT_EQ(pushToTalk().bindingLabel()->text(), "Hold Control + Alt");
    EXPECT_FALSE(pushToTalk().refusalLabel()->isHidden());
    EXPECT_EQ(pushToTalk().refusalLabel()->text(), "Choose at least one non-Shift modifier.");
    EXPECT_EQ(wiring->configurationCount(), 1);
    EXPECT_TRUE(h.coordinator().lastShortcutError().isEmpty());
    // The next recording starts without the old refusal.
    record(pushToTalk());
    EXPECT_TRUE(pushToTalk().refusalLabel()->isHidden());
    QTest::mouseClick(pushToTalk().recordButton(), Qt::LeftButton);
    expectIdleAndListening(pushToTalk());
}

TEST_F(ShortcutEditorTest, ResetDuringARecordingKeepsTheEngineSuspendedAndOneRowRecordsAtATime)
{
    h.settings().setPushToTalkShortcut({ Gesture::holdModifiers, control | ShortcutModifiers::command, std::nullopt });
    const int configurations = wiring->configurationCount();
    record(pushToTalk());
    record(handsFree());
    EXPECT_FALSE(pushToTalk().isRecording());
    EXPECT_EQ(ShortcutBindingEditorRow::recordingRow(), &handsFree());

    QTest::mouseClick(window->card->resetButton(), Qt::LeftButton);
    EXPECT_EQ(h.settings().pushToTalkShortcut(), ShortcutBinding::defaultPushToTalk);
    EXPECT_EQ(pushToTalk().bindingLabel()->text(), "Hold Control + Alt");
    EXPECT_TRUE(handsFree().isRecording());
    EXPECT_TRUE(wiring->isSuspended());
    EXPECT_FALSE(wiring->engine().isMonitoring());
    EXPECT_EQ(wiring->configurationCount(), configurations);

    window->press(Qt::Key_Escape);
    expectIdleAndListening(handsFree());
    EXPECT_EQ(wiring->engine().pushToTalkBinding(), ShortcutBinding::defaultPushToTalk);
    EXPECT_EQ(wiring->configurationCount(), configurations + 1);
}

TEST_F(ShortcutEditorTest, HidingOrMinimisingTheWindowEndsTheRecording)
{
    record(handsFree());
    window->widget.hide();
    expectIdleAndListening(handsFree());

    window->widget.show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window->widget));
    record(pushToTalk());
    window->widget.showMinimized();
    EXPECT_TRUE(waitUntil([&] { return !pushToTalk().isRecording(); }));
    expectIdleAndListening(pushToTalk());
}

TEST_F(ShortcutEditorTest, TypedLettersNeverReachAFocusedLineEditWhileARowRecords)
{
    record(handsFree());
    QTest::keyClicks(window->edit, "abc");
    EXPECT_EQ(window->edit->text(), "");
    EXPECT_TRUE(handsFree().isRecording());
    QTest::mouseClick(handsFree().recordButton(), Qt::LeftButton);
    expectIdleAndListening(handsFree());
    window->edit->setFocus();
    QTest::keyClicks(window->edit, "ok");
    EXPECT_EQ(window->edit->text(), "ok");
}

namespace {

bool loggedShortcutAction(const QStringList& messages)
{
    for (const QString& message : messages) {
        if (message.contains("push-to-talk") || message.contains("toggle") || message.contains("hands-free"))
            return true;
    }
    return false;
}

} // namespace

namespace {

// The desktop's own keyboard: the listener, the grabs and the key map of the X server.
PlatformServices x11Keyboard()
{
    PlatformServices platform;
    platform.syntheticInput = std::make_shared<SyntheticInputTracker>();
    platform.makeKeySource = [] { return std::make_unique<X11KeySource>(); };
    platform.makeKeyGrabber = [] { return std::make_unique<X11KeyGrabber>(); };
    platform.makeSessionInputProbe = [] { return std::make_unique<X11SessionInputProbe>(); };
    platform.keyCodes = std::make_shared<X11KeyCodeTranslator>();
    return platform;
}

} // namespace

// The desktop's own engine: recording its current combination starts no dictation, not even while
// the recorded keys are still held past the hold threshold, and the binding holds the key codes the
// engine listens for; once they are up, the engine hears the keyboard again.
TEST(ShortcutEditorDesktop, RecordingTheCurrentComboThroughTheServerStartsNoDictation)
{
    if (!hasDesktop())
        TESSVALE_SKIP_WITHOUT_DESKTOP() << "needs the private desktop (scripts/test-env)";
    CoordinatorHarness h;
    const PlatformServices platform = x11Keyboard();
    ShortcutWiring wiring(h.settings(), h.coordinator(), KeyboardEventMonitor::factory(platform, Sleeper::system()),
        Sleeper::system(), nullptr, platform.keyCodes);
    wiring.start();
    EditorWindow window(h.settings(), h.coordinator(), &wiring);
    XTestKeyboard keyboard;
    ASSERT_TRUE(keyboard.isOpen());

    ShortcutBindingEditorRow& row = *window.card->handsFreeRow();
    QTest::mouseClick(row.recordButton(), Qt::LeftButton);
    ASSERT_TRUE(row.isRecording());
    const QStringList before = h.activityMessages();
    // Control + Alt held past the hold threshold, then Space: the default pair, both shortcuts.
    keyboard.send(XK_Control_L, true);
    keyboard.send(XK_Alt_L, true);
    spinEventLoop(400ms);
    keyboard.send(XK_space, true);
    EXPECT_TRUE(waitUntil([&] { return !row.isRecording(); }));
    // Recorded, and still held past the hold threshold: the engine waits for the keys to go up.
    spinEventLoop(400ms);
    EXPECT_TRUE(wiring.isSuspended());
    EXPECT_FALSE(wiring.engine().isMonitoring());
    keyboard.send(XK_space, false);
    keyboard.send(XK_Alt_L, false);
    keyboard.send(XK_Control_L, false);
    EXPECT_TRUE(waitUntil([&] { return wiring.engine().isMonitoring(); }));
    spinEventLoop(200ms);
    h.settle();
    EXPECT_FALSE(wiring.isSuspended());
    EXPECT_EQ(h.settings().handsFreeToggleShortcut(), ShortcutBinding::defaultHandsFreeToggle);
    EXPECT_TRUE(row.refusalLabel()->isHidden());
    EXPECT_FALSE(loggedShortcutAction(h.activityMessages())) << h.activityMessages().join('\n').toStdString();
    EXPECT_EQ(h.activityMessages(), before);

    // Resumed: the same hold now reaches the coordinator.
    keyboard.send(XK_Control_L, true);
    keyboard.send(XK_Alt_L, true);
    spinEventLoop(400ms);
    keyboard.send(XK_Alt_L, false);
    keyboard.send(XK_Control_L, false);
    EXPECT_TRUE(waitUntil([&] {
        h.settle();
        return loggedShortcutAction(h.activityMessages());
    }));
}

// A combination the window manager takes (openbox opens its window menu on Alt + Space) ends the
// recording as the window loses the keyboard, with a refusal that names it as it was pressed, also
// when Space is up again before the window hears of it.
TEST(ShortcutEditorDesktop, ACombinationTheDesktopTakesIsNamed)
{
    if (!hasDesktop())
        TESSVALE_SKIP_WITHOUT_DESKTOP() << "needs the private desktop (scripts/test-env)";
    CoordinatorHarness h;
    const PlatformServices platform = x11Keyboard();
    ShortcutWiring wiring(h.settings(), h.coordinator(), KeyboardEventMonitor::factory(platform, Sleeper::system()),
        Sleeper::system(), nullptr, platform.keyCodes);
    wiring.start();
    EditorWindow window(h.settings(), h.coordinator(), &wiring);
    XTestKeyboard keyboard;
    ASSERT_TRUE(keyboard.isOpen());

    ShortcutBindingEditorRow& row = *window.card->handsFreeRow();
    QTest::mouseClick(row.recordButton(), Qt::LeftButton);
    ASSERT_TRUE(row.isRecording());
    keyboard.send(XK_Alt_L, true);
    EXPECT_TRUE(
        waitUntil([&] { return !row.captureSession() || !row.captureSession()->currentModifiers().isEmpty(); }));
    keyboard.send(XK_space, true);
    keyboard.send(XK_space, false);
    EXPECT_TRUE(waitUntil([&] { return !row.isRecording(); }));
    keyboard.send(XK_Alt_L, false);
    // The window manager's menu goes.
    keyboard.send(XK_Escape, true);
    keyboard.send(XK_Escape, false);
    EXPECT_EQ(row.refusalLabel()->text(), "The desktop uses Alt + Space; choose another shortcut.");
    EXPECT_FALSE(row.refusalLabel()->isHidden());
    EXPECT_EQ(h.settings().handsFreeToggleShortcut(), ShortcutBinding::defaultHandsFreeToggle);
    EXPECT_TRUE(waitUntil([&] { return !wiring.isSuspended(); }));
}
