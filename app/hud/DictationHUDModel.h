#pragma once

#include <optional>

#include <QColor>
#include <QDateTime>
#include <QList>
#include <QPoint>
#include <QRect>
#include <QSize>
#include <QString>

#include "coordinator/CoordinatorTypes.h"

namespace tessvale {

class DictationCoordinator;

// The HUD's control on the right: a stop button while the dictation can still be stopped, otherwise a
// symbol that tells the phase.
struct HUDTrailingControl
{
    enum class Kind { stopButton, symbol };
    Kind kind = Kind::symbol;
    // The stop button's label symbol, or the symbol shown.
    QString symbolName;

    static HUDTrailingControl forPhase(DictationPhase phase, const QString& menuBarSymbolName);
    friend bool operator==(const HUDTrailingControl&, const HUDTrailingControl&) = default;
};

// What the HUD view shows.
struct DictationHUDViewModel
{
    QString title;
    QString subtitle;
    HUDTrailingControl trailing;

    static DictationHUDViewModel from(const DictationCoordinator& coordinator);
    // A shortcut press that failed before any recording: the error, and while signed out, where to sign in.
    static DictationHUDViewModel startFailure(const DictationCoordinator& coordinator);
    // A dictation that ended by a failure, as the HUD tells it for a moment: the start failure's, and
    // for an insertion that can be tried again, the menu's retry command, which a click runs.
    static DictationHUDViewModel failure(const DictationCoordinator& coordinator);
    friend bool operator==(const DictationHUDViewModel&, const DictationHUDViewModel&) = default;
};

// The six-bar waveform: heights move with time and, while recording, with the input level; colours
// tell the phase.
struct DictationHUDWaveformModel
{
    static constexpr int barCount = 6;
    static constexpr int barWidth = 5;
    static constexpr int barSpacing = 4;
    // At most this many frames a second.
    static constexpr int framesPerSecond = 24;

    DictationPhase phase = DictationPhase::ready;
    double audioLevel = 0;
    // The bars move only while the HUD is wanted.
    bool animates = false;

    static DictationHUDWaveformModel from(const DictationCoordinator& coordinator);
    // Seconds since 1 January 2001 UTC, the epoch the wave is defined on.
    static double referenceSeconds(const QDateTime& date);

    double barHeight(int index, const QDateTime& date) const { return barHeight(index, referenceSeconds(date)); }
    double barHeight(int index, double seconds) const;
    QColor barColor(int index) const;
};

// Where the HUD goes: the first screen whose frame holds the cursor, else the primary screen, else the
// first one; none without screens. Frames are in global coordinates.
std::optional<qsizetype> hudTargetScreen(
    const QList<QRect>& screenFrames, std::optional<qsizetype> primaryIndex, QPoint cursor);
// Centred at the top of the screen, its top edge 10 px below the screen's safe top.
QRect hudFrame(const QRect& screenFrame, double safeTop, QSize size);
// "{{x, y}, {w, h}}", as the HUD's log lines write frames.
QString hudRectText(const QRect& rect);

} // namespace tessvale
