#include <gtest/gtest.h>

#include <QDir>
#include <QPainter>
#include <QScreen>
#include <QTest>

#include "coordinator/DictationCoordinatorTestAccess.h"
#include "hud/DictationHUDWindowController.h"
#include "support/coordinator/CoordinatorHarness.h"

using namespace tessvale;

namespace {

// Plain shapes in place of the shipped icons: the HUD tints whatever it is given.
QIcon sketchIcon(const QString& name)
{
    QPixmap pixmap(64, 64);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setBrush(Qt::black);
    painter.setPen(Qt::NoPen);
    if (name == QLatin1String("stop.fill"))
        painter.drawRoundedRect(QRectF(6, 6, 52, 52), 10, 10);
    else
        painter.drawEllipse(QRectF(8, 8, 48, 48));
    return QIcon(pixmap);
}

} // namespace

// Saves the HUD while recording in $TESSVALE_SCREENSHOT_DIR: hud-recording.png as a compositor
// blends it (with its shadow), hud-recording-no-compositor.png as the X server shows it cut to the
// capsule.
TEST(HudScreenshot, Recording)
{
    const QString folder = qEnvironmentVariable("TESSVALE_SCREENSHOT_DIR");
    if (folder.isEmpty())
        GTEST_SKIP() << "TESSVALE_SCREENSHOT_DIR is not set";
    ASSERT_TRUE(QDir().mkpath(folder));

    for (const bool compositing : { true, false }) {
        CoordinatorHarness h;
        DictationHUDWindowController hud(h.coordinator(), sketchIcon);
        hud.setCompositorProbe([compositing] { return compositing; });
        DictationCoordinatorTestAccess::setPhase(h.coordinator(), DictationPhase::recording);
        DictationCoordinatorTestAccess::setAudioLevel(h.coordinator(), 0.55);
        QTRY_VERIFY_WITH_TIMEOUT(hud.window()->isVisible(), 60000);
        QTRY_COMPARE_WITH_TIMEOUT(hud.window()->windowOpacity(), 1.0, 60000);
        QTest::qWait(200);
        const QString path = QDir(folder).filePath(
            compositing ? QStringLiteral("hud-recording.png") : QStringLiteral("hud-recording-no-compositor.png"));
        const QRect frame = hud.window()->geometry();
        const QPixmap shot = compositing
            ? hud.window()->grab()
            : hud.window()->screen()->grabWindow(0, frame.x(), frame.y(), frame.width(), frame.height());
        ASSERT_TRUE(shot.save(path)) << path.toStdString();
    }
}
