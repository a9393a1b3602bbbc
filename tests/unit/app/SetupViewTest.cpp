#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

#include "platform/system/LoginItemService.h"
#include "setup/SetupView.h"
#include "setup/SetupWindowController.h"
#include "support/audio/FakeAudioSystem.h"
#include "support/coordinator/CoordinatorHarness.h"
#include "system/LaunchAtLoginService.h"
#include "windows/WindowPlacement.h"
#include "windows/rows/SettingsPickerRow.h"
#include "windows/rows/SettingsToggleRow.h"
#include "windows/settings/SettingsWindowController.h"

using namespace tessvale;
using Access = DictationCoordinatorTestAccess;

namespace {

// A login item whose changes fail, as when the autostart folder cannot be written.
class RefusingLoginItem final : public LoginItemService
{
public:
    LoginItemStatus status() const override { return LoginItemStatus::notRegistered; }
    PlatformResult registerApplication() override
    {
        return PlatformResult::failed(QStringLiteral("The autostart folder is read-only."));
    }
    PlatformResult unregisterApplication() override { return PlatformResult::ok(); }
};

struct Fixture
{
    CoordinatorHarness h;
    LaunchAtLoginService login { std::make_shared<RefusingLoginItem>() };
    std::unique_ptr<SetupView> view;

    explicit Fixture(bool dictation = false)
    {
        if (dictation)
            h.prepareDictation();
        h.audio().deviceList = { { QStringLiteral("usb-1"), QStringLiteral("USB Mic"), 1 } };
        view = std::make_unique<SetupView>(h.settings(), h.coordinator(), login);
        view->resize(720, 760);
    }
    void settle()
    {
        h.settle();
        QCoreApplication::processEvents();
    }
};

} // namespace

TEST(SetupView, ARefreshNeverWritesASettingBack)
{
    Fixture f;
    f.h.settings().setPreferredMicrophoneUID(QStringLiteral("unplugged"));
    f.h.settings().setDeviceName(QStringLiteral("Desk"));
    QSignalSpy willChange(&f.h.settings(), &AppSettings::objectWillChange);
    f.view->show();
    f.h.coordinator().refreshAudioInputDevices();
    Access::setSignedIn(f.h.coordinator(), CoordinatorHarness::sampleMe());
    f.settle();
    f.view->refresh();

    EXPECT_EQ(willChange.count(), 0);
    EXPECT_EQ(f.h.settings().preferredMicrophoneUID(), QStringLiteral("unplugged"));
    EXPECT_EQ(f.view->microphonePicker()->options().size(), 2);
    EXPECT_EQ(f.view->deviceNameField()->text(), QStringLiteral("Desk"));
}

TEST(SetupView, TheRefusedLoginSwitchShowsTheServicesValue)
{
    Fixture f;
    f.view->show();
    f.settle();
    QAbstractButton* toggle = f.view->launchAtLoginRow()->toggle();
    ASSERT_FALSE(toggle->isChecked());
    toggle->click();
    f.settle();
    EXPECT_FALSE(toggle->isChecked());
    EXPECT_EQ(f.login.lastError(), QStringLiteral("The autostart folder is read-only."));
    EXPECT_FALSE(f.view->content().preferences.launchAtLoginOn);
}

TEST(SetupView, EditingTheDeviceNameMidTextKeepsTheCursor)
{
    Fixture f;
    f.h.settings().setDeviceName(QStringLiteral("Desk"));
    f.view->setShowTroubleshooting(true);
    f.view->show();
    f.settle();
    QLineEdit* field = f.view->deviceNameField();
    field->setFocus();
    field->setCursorPosition(2);
    QTest::keyClicks(field, QStringLiteral("XY"));
    f.settle();
    EXPECT_EQ(f.h.settings().deviceName(), QStringLiteral("DeXYsk"));
    EXPECT_EQ(field->text(), QStringLiteral("DeXYsk"));
    EXPECT_EQ(field->cursorPosition(), 4);
}

TEST(SetupView, CheckConnectivityIsAsWideAsItsTitleBeforeAnyResult)
{
    Fixture f;
    f.view->setShowTroubleshooting(true);
    f.view->show();
    f.settle();
    const QList<QPushButton*> buttons = f.view->findChildren<QPushButton*>();
    const auto check = std::find_if(buttons.begin(), buttons.end(),
        [](QPushButton* button) { return button->text() == QStringLiteral("Check Connectivity"); });
    ASSERT_NE(check, buttons.end());
    EXPECT_EQ((*check)->width(), (*check)->sizeHint().width());
}

TEST(SetupView, TheTranscriptShowsAsPlainText)
{
    Fixture f;
    Access::setSignedIn(f.h.coordinator(), CoordinatorHarness::sampleMe(QStringLiteral("ada@example.test")));
    f.h.settings().markLaunchReadinessCompleted(QStringLiteral("ada@example.test"));
    Access::addTranscriptRecord(f.h.coordinator(),
        SessionTranscriptRecord { QUuid::createUuid(), QDateTime::currentDateTime(), QStringLiteral("<b>bold</b>"),
            QStringLiteral("<b>bold</b> & more") });
    f.view->show();
    f.settle();
    ASSERT_TRUE(f.view->isSectionShown(SetupSection::latestTranscript));
    EXPECT_EQ(f.view->latestTranscriptLabel()->textFormat(), Qt::PlainText);
    EXPECT_EQ(f.view->latestTranscriptLabel()->text(), QStringLiteral("<b>bold</b> & more"));
    EXPECT_FALSE(f.view->isSectionShown(SetupSection::checklist));
    EXPECT_TRUE(f.view->isSectionShown(SetupSection::readyCard));
}

// The stop buttons stop the current trigger mode's dictation, as the HUD does.
TEST(SetupView, TheStopButtonStopsTheRunningDictation)
{
    Fixture f(true);
    Access::setSignedIn(f.h.coordinator(), CoordinatorHarness::sampleMe());
    f.view->show();
    f.h.openDictation(false);
    f.settle();
    ASSERT_EQ(f.h.coordinator().phase(), DictationPhase::recording) << qPrintable(f.h.activityMessages().join('\n'));
    EXPECT_EQ(f.view->checklistButton()->text(), QStringLiteral("Stop Test Dictation"));
    f.view->checklistButton()->click();
    f.settle();
    EXPECT_NE(f.h.coordinator().phase(), DictationPhase::recording);
    EXPECT_TRUE(f.h.activityMessages().filter(QStringLiteral("Stopping recording for ")).size() == 1)
        << qPrintable(f.h.activityMessages().join('\n'));
}

// The screens the windows must open whole on: small laptops, scale 1.5 and a second screen.
TEST(WindowPlacement, BothWindowsFitEveryScreenWithTheirTitleBars)
{
    struct Case
    {
        const char* name;
        QRect available;
    };
    const Case cases[] = {
        { "1024x600 with a panel", QRect(0, 24, 1024, 576) },
        { "1366x768", QRect(0, 0, 1366, 768) },
        { "1024x600 at 1.5", QRect(0, 0, 683, 400) },
        { "1280x800 at 1.5", QRect(0, 0, 853, 533) },
        { "second screen", QRect(1280, 0, 1024, 600) },
        { "1920x1080", QRect(0, 0, 1920, 1080) },
    };
    constexpr int titleBar = 30;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        for (const QRect& placed : { setupWindowGeometry(c.available), settingsWindowGeometry(c.available) }) {
            EXPECT_TRUE(c.available.contains(placed.adjusted(0, -titleBar, 0, 0)));
            EXPECT_LE(std::abs(placed.center().x() - c.available.center().x()), 1);
        }
        const QSize minimum = fittedMinimumSize(QSize(540, 480), c.available);
        EXPECT_TRUE(c.available.contains(QRect(c.available.topLeft(), minimum + QSize(0, titleBar))));
        EXPECT_LE(minimum.width(), setupWindowGeometry(c.available).width());
        EXPECT_LE(minimum.height(), setupWindowGeometry(c.available).height());
    }
    EXPECT_EQ(setupWindowGeometry(QRect(0, 0, 1920, 1080)).size(), QSize(720, 760));
}
