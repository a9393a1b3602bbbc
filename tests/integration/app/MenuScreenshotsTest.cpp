#include <gtest/gtest.h>

#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QScreen>
#include <QTest>

#include "icons/SymbolIcons.h"
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

    const auto shoot = [&](const QString& name, std::optional<MenuCommand> focused = std::nullopt) {
        QCoreApplication::processEvents();
        tray.showPopup();
        if (focused)
            tray.popup()->findChild<MenuBarContentView*>()->buttonFor(*focused)->setFocus(Qt::TabFocusReason);
        QTest::qWait(200);
        const QString path = QDir(folder).filePath(name);
        // As the X server shows it: where no compositor runs, the window is cut to the card.
        const QRect frame = tray.popup()->geometry();
        const QPixmap shot = tray.popup()->screen()->grabWindow(0, frame.x(), frame.y(), frame.width(), frame.height());
        EXPECT_TRUE(shot.save(path)) << path.toStdString();
        tray.popup()->hide();
    };
    DictationCoordinatorTestAccess::setPhase(h.coordinator(), DictationPhase::signedOut);
    shoot(QStringLiteral("tray-card-signed-out.png"));
    DictationCoordinatorTestAccess::setSignedIn(h.coordinator(), CoordinatorHarness::sampleMe());
    shoot(QStringLiteral("tray-card-signed-in.png"));
    shoot(QStringLiteral("tray-card-keyboard-on-start.png"), MenuCommand::toggleRecording);
    DictationCoordinatorTestAccess::setPhase(h.coordinator(), DictationPhase::recording);
    shoot(QStringLiteral("tray-card-recording.png"));
    DictationCoordinatorTestAccess::setPhase(h.coordinator(), DictationPhase::ready);
    h.updateAnswer.value = CoordinatorHarness::sampleUpdate(true, QStringLiteral("2.1.0"));
    h.coordinator().checkForUpdates();
    h.settle();
    shoot(QStringLiteral("tray-card-update-available.png"));
}

// Every symbol in each variant, on a light and on a dark panel: the drawings at a glance.
TEST(MenuScreenshots, SymbolSheet)
{
    const QString folder = qEnvironmentVariable("TESSVALE_SCREENSHOT_DIR");
    if (folder.isEmpty())
        GTEST_SKIP() << "set TESSVALE_SCREENSHOT_DIR";
    ASSERT_TRUE(QDir().mkpath(folder));
    const QStringList names = symbolIconNames();
    const QStringList variants = { QStringLiteral("light"), QStringLiteral("dark"), QStringLiteral("tray") };
    const int cell = 32;
    QImage sheet(cell * names.size(), cell * variants.size() * 2, QImage::Format_ARGB32);
    QPainter painter(&sheet);
    for (qsizetype row = 0; row < variants.size() * 2; ++row) {
        painter.fillRect(
            0, row * cell, sheet.width(), cell, row % 2 ? QColor(0x2b, 0x2b, 0x2e) : QColor(0xf2, 0xf2, 0xf4));
        for (qsizetype column = 0; column < names.size(); ++column) {
            const QString path = symbolIconPath(names[column], variants[row / 2]);
            if (!path.isEmpty())
                QIcon(path).paint(&painter, column * cell + 5, row * cell + 5, 22, 22);
        }
    }
    painter.end();
    EXPECT_TRUE(sheet.save(QDir(folder).filePath(QStringLiteral("symbols.png"))));
}
