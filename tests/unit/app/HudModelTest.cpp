#include <gtest/gtest.h>

#include <cmath>

#include "coordinator/DictationCoordinatorTestAccess.h"
#include "hud/DictationHUDModel.h"
#include "support/coordinator/CoordinatorHarness.h"

using namespace tessvale;
using Kind = HUDTrailingControl::Kind;

TEST(HudModel, TrailingControlPerPhase)
{
    const QString menuSymbol = QStringLiteral("menu.symbol");
    const struct
    {
        DictationPhase phase;
        Kind kind;
        QString symbol;
    } rows[] = {
        { DictationPhase::starting, Kind::stopButton, QStringLiteral("stop.fill") },
        { DictationPhase::recording, Kind::stopButton, QStringLiteral("stop.fill") },
        { DictationPhase::finalizing, Kind::symbol, QStringLiteral("waveform") },
        { DictationPhase::postProcessing, Kind::symbol, QStringLiteral("sparkles") },
        { DictationPhase::inserting, Kind::symbol, QStringLiteral("text.cursor") },
        { DictationPhase::signedOut, Kind::symbol, menuSymbol },
        { DictationPhase::ready, Kind::symbol, menuSymbol },
        { DictationPhase::error, Kind::symbol, menuSymbol },
    };
    for (const auto& row : rows)
        EXPECT_EQ(HUDTrailingControl::forPhase(row.phase, menuSymbol), (HUDTrailingControl { row.kind, row.symbol }))
            << caseName(row.phase).toStdString();

    // In the error phase the symbol is whatever the menu bar shows for that state.
    CoordinatorHarness h;
    DictationCoordinatorTestAccess::setPhase(h.coordinator(), DictationPhase::error);
    const DictationHUDViewModel model = DictationHUDViewModel::from(h.coordinator());
    EXPECT_EQ(model.trailing.symbolName, h.coordinator().menuBarSymbolName());
    EXPECT_EQ(model.title, h.coordinator().hudTitle());
}

TEST(HudModel, WaveformHeightsAndColoursOverThePhases)
{
    const QColor white92 = QColor::fromRgbF(1, 1, 1, 0.92f);
    const QColor white60 = QColor::fromRgbF(1, 1, 1, 0.6f);
    const QColor coral = QColor::fromRgbF(1.0f, 0.45f, 0.33f);
    const QColor ice = QColor::fromRgbF(0.78f, 0.92f, 1.0f);
    const struct
    {
        DictationPhase phase;
        double level;
        double low, high;
        QColor first, last;
    } rows[] = {
        { DictationPhase::starting, 0, 10, 18, white92, white92 },
        { DictationPhase::recording, 0, 0.48 * 11.08, 1.40 * 11.08, Qt::white, coral },
        { DictationPhase::recording, 1, 14.4, 42, Qt::white, coral },
        { DictationPhase::finalizing, 0, 8, 18, white92, white92 },
        { DictationPhase::postProcessing, 0, 8, 20, white92, white92 },
        { DictationPhase::inserting, 0, 9, 16, ice, ice },
        { DictationPhase::signedOut, 1, 8, 8, white60, white60 },
        { DictationPhase::ready, 1, 8, 8, white60, white60 },
        { DictationPhase::error, 1, 8, 8, white60, white60 },
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(caseName(row.phase).toStdString());
        const DictationHUDWaveformModel model { row.phase, row.level, true };
        double low = 1e9, high = -1e9;
        bool neighboursDiffer = false;
        for (double t = 0; t < 2; t += 0.001) {
            for (int index = 0; index < DictationHUDWaveformModel::barCount; ++index) {
                const double height = model.barHeight(index, t);
                low = std::min(low, height);
                high = std::max(high, height);
                if (index > 0 && std::abs(height - model.barHeight(index - 1, t)) > 1e-6)
                    neighboursDiffer = true;
            }
        }
        EXPECT_NEAR(low, row.low, 0.01);
        EXPECT_NEAR(high, row.high, 0.01);
        // Only the idle phases have six equal bars.
        EXPECT_EQ(neighboursDiffer, row.low != row.high);
        EXPECT_EQ(model.barColor(0), row.first);
        EXPECT_EQ(model.barColor(3), row.first);
        EXPECT_EQ(model.barColor(4), row.last);
        EXPECT_EQ(model.barColor(5), row.last);
    }
    // The wave's time is counted from the start of 2001, UTC.
    EXPECT_DOUBLE_EQ(
        DictationHUDWaveformModel::referenceSeconds(QDateTime::fromString("2001-01-01T00:00:02.5Z", Qt::ISODateWithMs)),
        2.5);
}

TEST(HudModel, PlacementOnOneScreenAndOnTwo)
{
    const QRect left(0, 0, 1280, 800);
    const QRect right(1280, -100, 1920, 1080);
    const QSize hud(420, 68);

    EXPECT_EQ(hudTargetScreen({ left }, 0, QPoint(10, 10)), 0);
    EXPECT_EQ(hudFrame(left, 0, hud), QRect(430, 10, 420, 68));
    EXPECT_EQ(hudFrame(left, 32, hud), QRect(430, 42, 420, 68));

    // The screen under the mouse, even when it is not the primary one; else the primary, else the first.
    EXPECT_EQ(hudTargetScreen({ left, right }, 0, QPoint(2000, 500)), 1);
    EXPECT_EQ(hudTargetScreen({ left, right }, 1, QPoint(5, 5)), 0);
    EXPECT_EQ(hudTargetScreen({ left, right }, 1, QPoint(-50, -50)), 1);
    EXPECT_EQ(hudTargetScreen({ left, right }, std::nullopt, QPoint(-50, -50)), 0);
    EXPECT_EQ(hudTargetScreen({}, std::nullopt, QPoint()), std::nullopt);
    EXPECT_EQ(hudFrame(right, 0, hud), QRect(2030, -90, 420, 68));

    // Halves round away from zero, on either side of the origin.
    EXPECT_EQ(hudFrame(QRect(0, 0, 1281, 800), 0, hud).x(), 431);
    EXPECT_EQ(hudFrame(QRect(-1921, 0, 1921, 800), 0, hud).x(), -1171);
    EXPECT_EQ(hudRectText(QRect(430, 10, 420, 68)), QStringLiteral("{{430, 10}, {420, 68}}"));
}
