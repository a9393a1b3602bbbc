#include <gtest/gtest.h>

#include <memory>

#include <QAbstractButton>
#include <QAbstractScrollArea>
#include <QApplication>
#include <QLayout>
#include <QPushButton>
#include <QScrollArea>
#include <QTest>

#include "platform/system/LoginItemService.h"
#include "setup/SetupView.h"
#include "setup/SetupWindowController.h"
#include "support/coordinator/CoordinatorHarness.h"
#include "system/LaunchAtLoginService.h"
#include "windows/settings/SettingsView.h"
#include "windows/settings/SettingsWindowController.h"
#include "windows/shortcuts/ShortcutBindingEditorRow.h"
#include "windows/shortcuts/ShortcutSettingsCard.h"

using namespace tessvale;

namespace {

class StillLoginItem final : public LoginItemService
{
public:
    LoginItemStatus status() const override { return LoginItemStatus::notRegistered; }
    PlatformResult registerApplication() override { return PlatformResult::ok(); }
    PlatformResult unregisterApplication() override { return PlatformResult::ok(); }
};

// Both windows as the application builds them, with their shortcuts cards.
struct Windows
{
    CoordinatorHarness h;
    LaunchAtLoginService login { std::make_shared<StillLoginItem>() };
    SetupWindowController setup { h.settings(), h.coordinator(), login };
    SettingsWindowController settings { h.settings(), h.coordinator(), login };

    Windows()
    {
        setup.setShortcutsCardFactory([this] { return new ShortcutSettingsCard(h.settings(), h.coordinator()); });
        settings.setShortcutsCardFactory(
            [](AppSettings& s, DictationCoordinator& c) { return new ShortcutSettingsCard(s, c); });
    }

    QWidget* open(bool setupWindow)
    {
        if (setupWindow)
            setup.showSetupWindow();
        else
            settings.showSettingsWindow();
        QWidget* window = setupWindow ? setup.window() : settings.window();
        EXPECT_TRUE(QTest::qWaitForWindowActive(window));
        h.settle();
        QCoreApplication::processEvents();
        return window;
    }
};

// The position in the page of the section that holds widget.
int sectionOf(QWidget* widget, QScrollArea* page)
{
    QWidget* content = page->widget();
    while (widget && widget->parentWidget() != content)
        widget = widget->parentWidget();
    return widget ? content->layout()->indexOf(widget) : -1;
}

// Where Tab takes the keyboard from the window's focus on, once round.
QList<QWidget*> tabRound(QWidget* window)
{
    QList<QWidget*> stops { window->focusWidget() };
    for (int i = 0; i < 200 && stops.back(); ++i) {
        QTest::keyClick(stops.back(), Qt::Key_Tab);
        QWidget* next = window->focusWidget();
        if (next == stops.front())
            break;
        stops.append(next);
    }
    return stops;
}

} // namespace

TEST(WindowKeyboard, TabFollowsTheSectionsFromTheFirstControl)
{
    Windows w;
    for (const bool setupWindow : { true, false }) {
        SCOPED_TRACE(setupWindow ? "setup window" : "Preferences");
        QWidget* window = w.open(setupWindow);
        auto* page = window->findChild<QScrollArea*>();
        ASSERT_NE(page, nullptr);
        auto* card = window->findChild<ShortcutSettingsCard*>();
        ASSERT_NE(card, nullptr);
        QWidget* first = setupWindow ? static_cast<QWidget*>(w.setup.view()->primaryButton())
                                     : static_cast<QWidget*>(card->pushToTalkRow()->recordButton());
        EXPECT_EQ(window->focusWidget(), first);

        const QList<QWidget*> stops = tabRound(window);
        ASSERT_GT(stops.size(), 5);
        int section = -1;
        for (QWidget* stop : stops) {
            ASSERT_NE(stop, nullptr);
            const auto* button = qobject_cast<QAbstractButton*>(stop);
            const std::string name = stop->metaObject()->className() + std::string(" ")
                + (button ? button->text() : stop->accessibleName()).toStdString();
            EXPECT_EQ(qobject_cast<QAbstractScrollArea*>(stop), nullptr) << name;
            const int at = sectionOf(stop, page);
            EXPECT_GE(at, section) << name;
            section = std::max(section, at);
        }
        EXPECT_TRUE(stops.contains(card->resetButton()));
        window->hide();
    }
}

TEST(WindowKeyboard, EscapeClosesBothWindowsAndCtrlWClosesPreferences)
{
    Windows w;
    QWidget* setup = w.open(true);
    QTest::keyClick(setup->focusWidget(), Qt::Key_Escape);
    EXPECT_FALSE(setup->isVisible());

    for (const QKeySequence& key : { QKeySequence(Qt::Key_Escape), QKeySequence(Qt::ControlModifier | Qt::Key_W) }) {
        SCOPED_TRACE(key.toString().toStdString());
        QWidget* preferences = w.open(false);
        QTest::keySequence(preferences->focusWidget(), key);
        EXPECT_FALSE(preferences->isVisible());
    }

    // During a recording, Escape cancels the recording and leaves the window open.
    QWidget* preferences = w.open(false);
    ShortcutBindingEditorRow* row = preferences->findChild<ShortcutSettingsCard*>()->pushToTalkRow();
    QTest::mouseClick(row->recordButton(), Qt::LeftButton);
    ASSERT_TRUE(row->isRecording());
    QTest::keyClick(row->recordButton(), Qt::Key_Escape);
    EXPECT_FALSE(row->isRecording());
    EXPECT_TRUE(preferences->isVisible());
}
