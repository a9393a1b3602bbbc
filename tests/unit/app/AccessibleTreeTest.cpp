#include <gtest/gtest.h>

#include <memory>

#include <QAccessible>
#include <QApplication>
#include <QTest>

#include "coordinator/DictationCoordinatorTestAccess.h"
#include "menu/MenuBarContentView.h"
#include "platform/system/LoginItemService.h"
#include "setup/SetupView.h"
#include "setup/SetupWindowController.h"
#include "support/coordinator/CoordinatorHarness.h"
#include "system/LaunchAtLoginService.h"
#include "windows/settings/SettingsView.h"
#include "windows/settings/SettingsWindowController.h"
#include "windows/shortcuts/ShortcutSettingsCard.h"

using namespace tessvale;
using Access = DictationCoordinatorTestAccess;

namespace {

class StillLoginItem final : public LoginItemService
{
public:
    LoginItemStatus status() const override { return LoginItemStatus::notRegistered; }
    PlatformResult registerApplication() override { return PlatformResult::ok(); }
    PlatformResult unregisterApplication() override { return PlatformResult::ok(); }
};

// Roles that only hold others: a screen reader passes through them without reading a name.
bool isContainer(QAccessible::Role role)
{
    switch (role) {
    case QAccessible::Client:
    case QAccessible::Pane:
    case QAccessible::Grouping:
    case QAccessible::Separator:
    case QAccessible::Whitespace:
    case QAccessible::ScrollBar:
    case QAccessible::Border:
    case QAccessible::LayeredPane:
        return true;
    default:
        return false;
    }
}

// Every shown element below iface that has a role to announce but no name, as "role path".
void collectUnnamed(QAccessibleInterface* iface, const QString& path, QStringList& unnamed, int& named)
{
    for (int i = 0; i < iface->childCount(); ++i) {
        QAccessibleInterface* child = iface->child(i);
        if (!child || child->state().invisible)
            continue;
        const QObject* object = child->object();
        const QString here = path + QLatin1Char('/')
            + (object ? QString::fromLatin1(object->metaObject()->className()) : QStringLiteral("?"));
        if (!isContainer(child->role())) {
            if (child->text(QAccessible::Name).trimmed().isEmpty())
                unnamed << QStringLiteral("role %1 %2").arg(int(child->role())).arg(here);
            else
                ++named;
        }
        collectUnnamed(child, here, unnamed, named);
    }
}

void expectAllNamed(QWidget* root, const char* state)
{
    SCOPED_TRACE(state);
    QCoreApplication::processEvents();
    QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(root);
    ASSERT_NE(iface, nullptr);
    QStringList unnamed;
    int named = 0;
    collectUnnamed(iface, QString(), unnamed, named);
    EXPECT_TRUE(unnamed.isEmpty()) << qPrintable(unnamed.join('\n'));
    EXPECT_GT(named, 3);
}

struct Scene
{
    CoordinatorHarness h;
    LaunchAtLoginService login { std::make_shared<StillLoginItem>() };

    void settle()
    {
        h.settle();
        QCoreApplication::processEvents();
    }
};

} // namespace

TEST(AccessibleTree, EveryShownElementOfBothWindowsHasAName)
{
    Scene s;
    SetupWindowController setup(s.h.settings(), s.h.coordinator(), s.login);
    setup.setShortcutsCardFactory([&s] { return new ShortcutSettingsCard(s.h.settings(), s.h.coordinator()); });
    SettingsWindowController settings(s.h.settings(), s.h.coordinator(), s.login);
    settings.setShortcutsCardFactory(
        [](AppSettings& a, DictationCoordinator& c) { return new ShortcutSettingsCard(a, c); });
    setup.showSetupWindow();
    settings.showSettingsWindow();
    setup.view()->setShowTroubleshooting(true);
    settings.view()->setAdvancedOpen(true);
    s.settle();
    expectAllNamed(setup.window(), "setup, new user");
    expectAllNamed(settings.window(), "Preferences, signed out");

    s.h.coordinator().beginSignIn();
    s.settle();
    ASSERT_TRUE(s.h.coordinator().browserSignIn().has_value());
    expectAllNamed(setup.window(), "setup, waiting for the browser");

    s.h.coordinator().cancelSignIn();
    const QString email = QStringLiteral("ada@example.test");
    Access::setSignedIn(s.h.coordinator(), CoordinatorHarness::sampleMe(email));
    s.settle();
    expectAllNamed(setup.window(), "setup, checklist");
    expectAllNamed(settings.window(), "Preferences, signed in");

    Access::addTranscriptRecord(s.h.coordinator(),
        SessionTranscriptRecord {
            QUuid::createUuid(), QDateTime::currentDateTime(), QStringLiteral("hi"), QStringLiteral("Hi.") });
    s.h.settings().markLaunchReadinessCompleted(email);
    s.settle();
    expectAllNamed(setup.window(), "setup, ready");
}

// The card is a popup, outside the application's accessible tree: it opens on its status, whose
// name and description are what it shows, and every element in it is named.
TEST(AccessibleTree, TheCardOpensOnItsNamedStatusInEveryState)
{
    struct Case
    {
        const char* name;
        bool signedIn;
        DictationPhase phase;
        QString error;
        QString status; // empty: the card has none
    };
    const Case cases[] = {
        { "signed out", false, DictationPhase::signedOut, {}, QStringLiteral("Finish setup in the app") },
        { "ready", true, DictationPhase::ready, {}, {} },
        { "recording", true, DictationPhase::recording, {}, QStringLiteral("Recording") },
        { "error", true, DictationPhase::error, QStringLiteral("Insertion failed."), QStringLiteral("Error") },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Scene s;
        // A phase set on its own, without the session that would hold it.
        s.h.onInvariantViolation = [](const QString&) {};
        if (c.signedIn)
            Access::setSignedIn(s.h.coordinator(), CoordinatorHarness::sampleMe());
        Access::setPhase(s.h.coordinator(), c.phase);
        if (!c.error.isEmpty())
            Access::setLastError(s.h.coordinator(), c.error);
        MenuBarContentView card(
            s.h.coordinator(), [] {}, [] {});
        card.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&card));
        s.settle();
        expectAllNamed(&card, c.name);
        if (c.status.isEmpty())
            continue;
        QWidget* focused = card.focusWidget();
        ASSERT_NE(focused, nullptr);
        QAccessibleInterface* status = QAccessible::queryAccessibleInterface(focused);
        EXPECT_EQ(status->role(), QAccessible::StaticText);
        EXPECT_EQ(status->text(QAccessible::Name), c.status);
        EXPECT_FALSE(status->text(QAccessible::Description).isEmpty());
        if (!c.error.isEmpty()) {
            // Tab reaches the error next.
            QTest::keyClick(focused, Qt::Key_Tab);
            ASSERT_NE(card.focusWidget(), nullptr);
            EXPECT_EQ(QAccessible::queryAccessibleInterface(card.focusWidget())->text(QAccessible::Name), c.error);
        }
    }
}
