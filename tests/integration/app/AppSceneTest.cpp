#include <memory>

#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QMenu>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include "TessvaleApp.h"
#include "coordinator/DictationCoordinator.h"
#include "coordinator/DictationCoordinatorTestAccess.h"
#include "instance/SingleInstance.h"
#include "menu/TrayController.h"
#include "setup/SetupWindowController.h"
#include "support/Skips.h"
#include "windows/settings/SettingsWindowController.h"

using namespace tessvale;
using Case = ClientStreamMessage::Case;

namespace {

struct PlayedStream
{
    QList<Case> sent;
    bool closed = false;
};

QCoro::Task<> noConnect()
{
    co_return;
}

QCoro::Task<> recordSend(std::shared_ptr<PlayedStream> stream, ClientStreamMessage message)
{
    stream->sent.append(message.messageCase());
    co_return;
}

QCoro::Task<> recordClose(std::shared_ptr<PlayedStream> stream)
{
    stream->closed = true;
    co_return;
}

} // namespace

// The whole application in this process: its menu's Quit ends a running dictation on the service,
// closes the connection and ends the event loop well within the quit's bound.
TEST(AppScene, QuitFromTheMenuCancelsTheDictationAndEndsTheLoop)
{
    if (qEnvironmentVariableIsEmpty("DISPLAY"))
        TESSVALE_SKIP_WITHOUT_DESKTOP() << "needs the private desktop of scripts/test-env";
    TessvaleApp scene;
    DictationCoordinator& c = scene.coordinator();
    auto stream = std::make_shared<PlayedStream>();
    WebSocketTransport transport;
    transport.connect
        = [](WebSocketTransport::MessageHandler, WebSocketTransport::TerminationHandler) { return noConnect(); };
    transport.send = [stream](ClientStreamMessage message) { return recordSend(stream, std::move(message)); };
    transport.disconnect = [stream] { return recordClose(stream); };
    DictationCoordinatorTestAccess::openSession(c, QUuid::createUuid(), transport);
    DictationCoordinatorTestAccess::setPhase(c, DictationPhase::recording);

    QAction* quit = nullptr;
    QTimer::singleShot(0, &scene, [&] {
        for (QAction* action : scene.tray().contextMenu()->actions()) {
            if (action->text() == QStringLiteral("Quit Tessvale"))
                quit = action;
        }
        if (quit)
            quit->trigger();
        else
            QCoreApplication::exit(2);
    });
    QElapsedTimer elapsed;
    elapsed.start();
    EXPECT_EQ(QApplication::exec(), 0) << "no Quit entry in the menu";
    EXPECT_LT(elapsed.elapsed(), 1000);
    ASSERT_FALSE(stream->sent.isEmpty());
    EXPECT_EQ(stream->sent.last(), Case::cancelSession);
    EXPECT_TRUE(stream->closed);
    EXPECT_TRUE(scene.isQuitting());
}

// Where a user looks on Linux: a second start brings the setup window to the front, and the tray's
// "Preferences..." opens the Settings window whole on the pointer's screen.
TEST(AppScene, ARelaunchShowsTheSetupWindowAndPreferencesOpenTheSettingsWindow)
{
    if (qEnvironmentVariableIsEmpty("DISPLAY"))
        TESSVALE_SKIP_WITHOUT_DESKTOP() << "needs the private desktop of scripts/test-env";
    QTemporaryDir folder;
    auto instance = std::make_unique<SingleInstance>(folder.path());
    ASSERT_EQ(instance->claim(), SingleInstance::Role::instance);
    SingleInstance* relaunches = instance.get();
    TessvaleApp scene(std::move(instance));

    emit relaunches->activationRequested();
    QWidget* setup = scene.setupWindowController().ensureWindow();
    EXPECT_TRUE(QTest::qWaitForWindowActive(setup));

    QAction* preferences = nullptr;
    for (QAction* action : scene.tray().contextMenu()->actions()) {
        if (action->text() == QStringLiteral("Preferences..."))
            preferences = action;
    }
    ASSERT_NE(preferences, nullptr);
    preferences->trigger();
    QWidget* settings = scene.settingsWindowController().window();
    ASSERT_NE(settings, nullptr);
    ASSERT_TRUE(QTest::qWaitForWindowActive(settings));
    // Left hanging off the bottom of the screen and closed, it comes up whole again.
    const QRect available = settings->screen()->availableGeometry();
    settings->move(available.left(), available.bottom() - 100);
    settings->close();
    preferences->trigger();
    ASSERT_TRUE(QTest::qWaitForWindowActive(settings));
    EXPECT_TRUE(QTest::qWaitFor([&] { return available.contains(settings->frameGeometry()); }))
        << settings->frameGeometry().bottom() << " > " << available.bottom();
}
