#include <gtest/gtest.h>

#include <QDir>
#include <QGuiApplication>
#include <QTest>

#include "menu/MenuBarContentView.h"
#include "menu/TrayController.h"
#include "support/coordinator/CoordinatorHarness.h"

using namespace tessvale;

// Writes the tray card as the user sees it, to TESSVALE_SCREENSHOT_DIR (nothing without it).
TEST(MenuScreenshots, TrayCardSignedInAndSignedOut)
{
    const QString folder = qEnvironmentVariable("TESSVALE_SCREENSHOT_DIR");
    if (folder.isEmpty() || QGuiApplication::platformName() != QStringLiteral("xcb"))
        GTEST_SKIP() << "set TESSVALE_SCREENSHOT_DIR and run under scripts/test-env";
    ASSERT_TRUE(QDir().mkpath(folder));
    CoordinatorHarness h;
    TrayController tray(
        h.coordinator(), [] {}, [] {});
    tray.start();

    const auto shoot = [&](const QString& name) {
        QCoreApplication::processEvents();
        tray.showPopup();
        QTest::qWait(200);
        const QString path = QDir(folder).filePath(name);
        EXPECT_TRUE(tray.popup()->grab().save(path)) << path.toStdString();
        tray.popup()->hide();
    };
    DictationCoordinatorTestAccess::setPhase(h.coordinator(), DictationPhase::signedOut);
    shoot(QStringLiteral("tray-card-signed-out.png"));
    DictationCoordinatorTestAccess::setSignedIn(h.coordinator(), CoordinatorHarness::sampleMe());
    shoot(QStringLiteral("tray-card-signed-in.png"));
    DictationCoordinatorTestAccess::setPhase(h.coordinator(), DictationPhase::recording);
    shoot(QStringLiteral("tray-card-recording.png"));
    DictationCoordinatorTestAccess::setPhase(h.coordinator(), DictationPhase::ready);
    h.updateAnswer.value = CoordinatorHarness::sampleUpdate(true, QStringLiteral("2.1.0"));
    h.coordinator().checkForUpdates();
    h.settle();
    shoot(QStringLiteral("tray-card-update-available.png"));
}
