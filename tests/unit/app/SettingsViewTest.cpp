#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QScrollArea>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <QWheelEvent>

#include "coordinator/DictationCoordinatorTestAccess.h"
#include "platform/system/LoginItemService.h"
#include "support/audio/FakeAudioSystem.h"
#include "support/coordinator/CoordinatorHarness.h"
#include "system/LaunchAtLoginService.h"
#include "windows/rows/RowStyle.h"
#include "windows/rows/SettingsPickerRow.h"
#include "windows/rows/SettingsToggleRow.h"
#include "windows/rows/SettingsValueRow.h"
#include "windows/settings/SettingsView.h"
#include "windows/settings/SettingsWindowController.h"

using namespace tessvale;

namespace {

// A login item the system refuses to change.
class RefusingLoginItem final : public LoginItemService
{
public:
    LoginItemStatus status() const override { return LoginItemStatus::requiresApproval; }
    PlatformResult registerApplication() override
    {
        ++changes;
        return PlatformResult::failed(QStringLiteral("Not allowed"));
    }
    PlatformResult unregisterApplication() override { return registerApplication(); }
    int changes = 0;
};

struct SettingsFixture
{
    SettingsFixture()
        : loginItem(std::make_shared<RefusingLoginItem>())
        , launchAtLogin(loginItem)
    {
        h.audio().deviceList = { { QStringLiteral("mic-a"), QStringLiteral("Built-in"), 1 } };
        view = std::make_unique<SettingsView>(h.settings(), h.coordinator(), launchAtLogin);
        view->show();
        h.settle();
    }

    CoordinatorHarness h;
    std::shared_ptr<RefusingLoginItem> loginItem;
    LaunchAtLoginService launchAtLogin;
    std::unique_ptr<SettingsView> view;
};

} // namespace

TEST(SettingsView, ARefreshNeverWritesBack)
{
    SettingsFixture f;
    QSignalSpy microphone(&f.h.settings(), &AppSettings::preferredMicrophoneUIDChanged);
    QSignalSpy deviceName(&f.h.settings(), &AppSettings::deviceNameChanged);
    QSignalSpy clipboard(&f.h.settings(), &AppSettings::restoreClipboardChanged);
    QSignalSpy directTyping(&f.h.settings(), &AppSettings::preferDirectTypingChanged);

    // New devices, a new account and a reappearance repopulate every control.
    f.h.audio().deviceList.append({ QStringLiteral("mic-b"), QStringLiteral("USB"), 1 });
    DictationCoordinatorTestAccess::setSignedIn(f.h.coordinator(), CoordinatorHarness::sampleMe());
    f.view->hide();
    f.view->show();
    f.h.settle();
    f.view->refresh();
    EXPECT_EQ(f.view->microphonePicker()->picker()->count(), 3);

    EXPECT_EQ(microphone.count() + deviceName.count() + clipboard.count() + directTyping.count(), 0);
    EXPECT_EQ(f.loginItem->changes, 0);

    // A user's choice writes once.
    f.view->microphonePicker()->picker()->activated(2);
    EXPECT_EQ(f.h.settings().preferredMicrophoneUID(), QStringLiteral("mic-b"));
    EXPECT_EQ(microphone.count(), 1);
}

TEST(SettingsView, AWheelOverThePickerScrollsThePageAndChoosesNothing)
{
    SettingsFixture f;
    f.h.audio().deviceList.append({ QStringLiteral("mic-b"), QStringLiteral("USB"), 1 });
    f.h.coordinator().refreshAudioInputDevices();
    f.h.settle();
    f.view->resize(SettingsView::minimumWidth, SettingsView::minimumHeight);
    QScrollBar* page = f.view->findChild<QScrollArea*>()->verticalScrollBar();
    ASSERT_GT(page->maximum(), 0);
    QComboBox* picker = f.view->microphonePicker()->picker();
    const int shown = picker->currentIndex();
    QSignalSpy microphone(&f.h.settings(), &AppSettings::preferredMicrophoneUIDChanged);

    const QPointF inside = QPointF(picker->rect().center());
    QWheelEvent wheel(inside, picker->mapToGlobal(inside), QPoint(), QPoint(0, -120), Qt::NoButton, Qt::NoModifier,
        Qt::NoScrollPhase, false);
    // Delivered as the window system delivers it: what the picker leaves goes on to its parents.
    QSpontaneKeyEvent::setSpontaneous(&wheel);
    QApplication::instance()->notify(picker, &wheel);
    EXPECT_EQ(picker->currentIndex(), shown);
    EXPECT_EQ(microphone.count(), 0);
    EXPECT_GT(page->value(), 0);
}

TEST(SettingsView, ARefusedLoginSwitchShowsTheServiceValue)
{
    SettingsFixture f;
    SettingsToggleRow* row = f.view->launchAtLoginRow();
    ASSERT_FALSE(row->isChecked());
    row->toggle()->click();
    EXPECT_EQ(f.loginItem->changes, 1);
    EXPECT_FALSE(row->isChecked());
    EXPECT_FALSE(f.launchAtLogin.isEnabled());
    EXPECT_EQ(row->subtitleLabel()->text(), QStringLiteral("Requires approval in Login Items"));
}

TEST(SettingsView, ADeviceNameEditInTheMiddleKeepsTheCursor)
{
    SettingsFixture f;
    f.h.settings().setDeviceName(QStringLiteral("Office Mac"));
    f.view->setAdvancedOpen(true);
    QLineEdit* field = f.view->deviceNameField();
    ASSERT_EQ(field->text(), QStringLiteral("Office Mac"));
    field->setFocus();
    field->setCursorPosition(6);
    QTest::keyClicks(field, QStringLiteral("XY"));
    EXPECT_EQ(f.h.settings().deviceName(), QStringLiteral("OfficeXY Mac"));
    EXPECT_EQ(field->cursorPosition(), 8);
}

TEST(SettingsView, ServiceTextIsPlainText)
{
    SettingsFixture f;
    DictationCoordinatorTestAccess::setSignedIn(
        f.h.coordinator(), CoordinatorHarness::sampleMe(QStringLiteral("<b>ada</b>@example.com")));
    f.h.settle();
    EXPECT_EQ(f.view->accountEmailRow()->value(), QStringLiteral("<b>ada</b>@example.com"));
    for (const QLabel* label : f.view->findChildren<QLabel*>())
        EXPECT_EQ(label->textFormat(), Qt::PlainText) << label->text().toStdString();
}

TEST(SettingsView, SecondaryTextReadsOnADarkThemeThatLeftItDark)
{
    const QPalette before = QApplication::palette();
    QPalette dark = before;
    dark.setColor(QPalette::Window, QColor(32, 35, 38));
    dark.setColor(QPalette::WindowText, QColor(252, 252, 252));
    dark.setColor(QPalette::PlaceholderText, QColor(0, 0, 0, 128));
    QApplication::setPalette(dark);
    SettingsFixture f;
    SettingsWindowController controller(f.h.settings(), f.h.coordinator(), f.launchAtLogin);
    const QColor secondary = QApplication::palette().color(QPalette::PlaceholderText);
    QApplication::setPalette(before);
    EXPECT_GT(secondary.lightness(), 128);
    EXPECT_LT(secondary.alphaF(), 1.0);
}

TEST(SettingsView, SecondaryTextsAreAtLeastEightPointsOnANinePointDesktop)
{
    QFont desktop;
    desktop.setPointSizeF(9);
    for (const TextStyle style : { TextStyle::subheadline, TextStyle::footnote, TextStyle::caption })
        EXPECT_GE(styledFont(style, desktop).pointSizeF(), 8.0) << static_cast<int>(style);
    EXPECT_EQ(styledFont(TextStyle::body, desktop).pointSizeF(), 9.0);
}

TEST(SettingsView, AnUnpluggedMicrophoneKeepsItsStoredIdentity)
{
    SettingsFixture f;
    f.h.settings().setPreferredMicrophoneUID(QStringLiteral("mic-usb"));
    QComboBox* picker = f.view->microphonePicker()->picker();
    EXPECT_EQ(picker->currentIndex(), -1);
    EXPECT_EQ(picker->count(), 2);

    // Plugged in while the window was away: listed and selected on the next appearance.
    f.h.audio().deviceList.append({ QStringLiteral("mic-usb"), QStringLiteral("USB"), 1 });
    f.view->hide();
    f.view->show();
    f.h.settle();
    EXPECT_EQ(picker->currentText(), QStringLiteral("USB"));
    // Unplugged again: nothing selected, nothing written.
    f.h.audio().deviceList.removeLast();
    f.h.coordinator().refreshAudioInputDevices();
    f.h.settle();
    EXPECT_EQ(picker->currentIndex(), -1);
    EXPECT_EQ(f.h.settings().preferredMicrophoneUID(), QStringLiteral("mic-usb"));
}

TEST(SettingsView, CtrlCommaOpensSettingsFromAnyWindow)
{
    int opened = 0;
    OpenSettingsShortcut shortcut([&opened] { ++opened; });
    QLineEdit elsewhere;
    elsewhere.show();
    QTest::keyClick(&elsewhere, Qt::Key_Comma, Qt::ControlModifier);
    QTest::keyClick(&elsewhere, Qt::Key_Comma);
    EXPECT_EQ(opened, 1);
    EXPECT_EQ(elsewhere.text(), QStringLiteral(","));
}
