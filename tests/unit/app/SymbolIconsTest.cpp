#include <gtest/gtest.h>

#include <QFile>
#include <QImage>

#include "coordinator/DictationPresentation.h"
#include "icons/SymbolIcons.h"
#include "menu/MenuBarContentModel.h"

using namespace tessvale;

namespace {

// The application runs at twice the scale, as on a high-density screen: a symbol's size must not
// depend on it.
const bool kScaledApplication = qputenv("QT_SCALE_FACTOR", "2");

// Pixels that the drawing covers.
int inkedPixels(const QImage& image)
{
    int count = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x)
            count += qAlpha(image.pixel(x, y)) > 0 ? 1 : 0;
    }
    return count;
}

} // namespace

TEST(SymbolIcons, EveryMappedNameHasDrawingsThatRender)
{
    const QStringList names = symbolIconNames();
    ASSERT_FALSE(names.isEmpty());
    for (const QString& name : names) {
        SCOPED_TRACE(name.toStdString());
        for (const QString& variant : { QStringLiteral("light"), QStringLiteral("dark"), QStringLiteral("tray") }) {
            const QString path = symbolIconPath(name, variant);
            if (variant == QStringLiteral("tray") && path.isEmpty())
                continue;
            ASSERT_TRUE(QFile::exists(path)) << path.toStdString();
            const QImage image = QIcon(path).pixmap(24, 24).toImage();
            EXPECT_GT(inkedPixels(image), 20) << path.toStdString();
        }
        EXPECT_FALSE(symbolIcon(name).isNull());
        EXPECT_GT(inkedPixels(tintedSymbolPixmap(name, Qt::red, 16).toImage()), 10);
    }
    EXPECT_TRUE(symbolIcon(QStringLiteral("no.such.symbol")).isNull());
}

TEST(SymbolIcons, ATintedSymbolHasItsLogicalSizeAtEveryScale)
{
    ASSERT_TRUE(kScaledApplication);
    for (const qreal ratio : { 1.0, 1.5, 2.0 }) {
        const QPixmap pixmap = tintedSymbolPixmap(QStringLiteral("mic"), Qt::red, 16, ratio);
        EXPECT_EQ(pixmap.deviceIndependentSize(), QSizeF(16, 16)) << ratio;
        EXPECT_EQ(pixmap.size(), QSize(16, 16) * ratio) << ratio;
    }
}

TEST(SymbolIcons, EverySymbolTheMenuAndTheTrayShowHasADrawing)
{
    const QStringList names = symbolIconNames();
    for (int phase = 0; phase <= static_cast<int>(DictationPhase::error); ++phase) {
        for (const bool flag : { false, true }) {
            DictationPresentation presentation;
            presentation.phase = static_cast<DictationPhase>(phase);
            presentation.isAuthenticated = flag;
            presentation.lastError = flag ? QStringLiteral("failed") : QString();
            ClientUpdateResponse update;
            update.latestVersion = QStringLiteral("9");
            MenuBarContentInput input;
            input.isAuthenticated = flag;
            input.phase = presentation.phase;
            input.browserSignInOpen = flag;
            input.displayErrorText = presentation.lastError;
            input.canRetryFailedInsertion = true;
            input.partialTranscript = QStringLiteral("partial");
            input.appUpdateState = AppUpdateState::available(update);
            input.menuBarSymbolName = presentation.menuBarSymbolName();
            EXPECT_TRUE(names.contains(input.menuBarSymbolName)) << input.menuBarSymbolName.toStdString();
            EXPECT_FALSE(symbolIconPath(input.menuBarSymbolName, QStringLiteral("tray")).isEmpty());
            for (const MenuRow& row : menuBarContent(input).rows) {
                if (row.kind != MenuRowKind::divider) {
                    EXPECT_TRUE(names.contains(row.symbol)) << row.symbol.toStdString();
                }
            }
        }
    }
}
