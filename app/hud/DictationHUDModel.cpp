#include "hud/DictationHUDModel.h"

#include <algorithm>
#include <cmath>

#include "coordinator/DictationCoordinator.h"

namespace tessvale {

HUDTrailingControl HUDTrailingControl::forPhase(DictationPhase phase, const QString& menuBarSymbolName)
{
    switch (phase) {
    case DictationPhase::starting:
    case DictationPhase::recording:
        return { Kind::stopButton, QStringLiteral("stop.fill") };
    case DictationPhase::finalizing:
        return { Kind::symbol, QStringLiteral("waveform") };
    case DictationPhase::postProcessing:
        return { Kind::symbol, QStringLiteral("sparkles") };
    case DictationPhase::inserting:
        return { Kind::symbol, QStringLiteral("text.cursor") };
    case DictationPhase::signedOut:
    case DictationPhase::ready:
    case DictationPhase::error:
        break;
    }
    return { Kind::symbol, menuBarSymbolName };
}

DictationHUDViewModel DictationHUDViewModel::from(const DictationCoordinator& coordinator)
{
    const DictationPresentation presentation = coordinator.presentation();
    return { presentation.hudTitle(), presentation.hudSubtitle(),
        HUDTrailingControl::forPhase(coordinator.phase(), presentation.menuBarSymbolName()) };
}

DictationHUDViewModel DictationHUDViewModel::startFailure(const DictationCoordinator& coordinator)
{
    DictationHUDViewModel model = from(coordinator);
    if (!coordinator.isAuthenticated())
        model.title = QStringLiteral("Sign in from the tray to dictate");
    return model;
}

DictationHUDViewModel DictationHUDViewModel::failure(const DictationCoordinator& coordinator)
{
    DictationHUDViewModel model = startFailure(coordinator);
    if (coordinator.canRetryFailedInsertion()) {
        model.title = QStringLiteral("Retry Insert");
        model.trailing = { HUDTrailingControl::Kind::symbol, QStringLiteral("arrow.clockwise") };
    }
    return model;
}

DictationHUDWaveformModel DictationHUDWaveformModel::from(const DictationCoordinator& coordinator)
{
    return { coordinator.phase(), coordinator.audioLevel(), coordinator.shouldShowHUD() };
}

double DictationHUDWaveformModel::referenceSeconds(const QDateTime& date)
{
    static const qint64 referenceMs = QDateTime(QDate(2001, 1, 1), QTime(0, 0), Qt::UTC).toMSecsSinceEpoch();
    return double(date.toMSecsSinceEpoch() - referenceMs) / 1000.0;
}

double DictationHUDWaveformModel::barHeight(int index, double seconds) const
{
    const double wave = (std::sin(seconds * 7.2 + index * 0.62) + 1) * 0.5;
    switch (phase) {
    case DictationPhase::starting:
        return wave * 8 + 10;
    case DictationPhase::recording:
        return (wave * 0.92 + 0.48) * (std::max(audioLevel, 0.14) * 22 + 8);
    case DictationPhase::finalizing:
        return wave * 10 + 8;
    case DictationPhase::postProcessing:
        return wave * 12 + 8;
    case DictationPhase::inserting:
        return wave * 7 + 9;
    case DictationPhase::signedOut:
    case DictationPhase::ready:
    case DictationPhase::error:
        break;
    }
    return 8;
}

QColor DictationHUDWaveformModel::barColor(int index) const
{
    switch (phase) {
    case DictationPhase::starting:
    case DictationPhase::finalizing:
    case DictationPhase::postProcessing:
        return QColor::fromRgbF(1, 1, 1, 0.92f);
    case DictationPhase::recording:
        return index < 4 ? QColor(Qt::white) : QColor::fromRgbF(1.0f, 0.45f, 0.33f);
    case DictationPhase::inserting:
        return QColor::fromRgbF(0.78f, 0.92f, 1.0f);
    case DictationPhase::signedOut:
    case DictationPhase::ready:
    case DictationPhase::error:
        break;
    }
    return QColor::fromRgbF(1, 1, 1, 0.6f);
}

std::optional<qsizetype> hudTargetScreen(
    const QList<QRect>& screenFrames, std::optional<qsizetype> primaryIndex, QPoint cursor)
{
    for (qsizetype i = 0; i < screenFrames.size(); ++i) {
        if (screenFrames[i].contains(cursor))
            return i;
    }
    if (primaryIndex && *primaryIndex >= 0 && *primaryIndex < screenFrames.size())
        return primaryIndex;
    if (!screenFrames.isEmpty())
        return 0;
    return std::nullopt;
}

QRect hudFrame(const QRect& screenFrame, double safeTop, QSize size)
{
    // std::round takes halves away from zero.
    const double x = screenFrame.x() + screenFrame.width() * 0.5 - size.width() * 0.5;
    const double y = screenFrame.y() + safeTop + 10;
    return QRect(int(std::round(x)), int(std::round(y)), size.width(), size.height());
}

QString hudRectText(const QRect& rect)
{
    return QStringLiteral("{{%1, %2}, {%3, %4}}").arg(rect.x()).arg(rect.y()).arg(rect.width()).arg(rect.height());
}

} // namespace tessvale
