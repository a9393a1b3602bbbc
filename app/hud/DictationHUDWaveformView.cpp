#include "hud/DictationHUDWaveformView.h"

#include <QPainter>
#include <QPainterPath>
#include <QTimerEvent>

#include "coordinator/DictationCoordinator.h"

namespace tessvale {

namespace {

// The bars sit in a 56 x 34 frame but may grow past it; the HUD's own height (44 inside its padding)
// is what clips them.
constexpr int kWidth = 56;
constexpr int kHeight = 44;
// Rounded up, so the rate stays at or below 24 a second.
constexpr int kFrameIntervalMs
    = (1000 + DictationHUDWaveformModel::framesPerSecond - 1) / DictationHUDWaveformModel::framesPerSecond;

} // namespace

DictationHUDWaveformView::DictationHUDWaveformView(DictationCoordinator& coordinator, QWidget* parent)
    : QWidget(parent)
    , m_coordinator(coordinator)
    , m_model(DictationHUDWaveformModel::from(coordinator))
{
    setFixedSize(kWidth, kHeight);
    setAttribute(Qt::WA_TransparentForMouseEvents);
    connect(&coordinator, &DictationCoordinator::stateChanged, this, &DictationHUDWaveformView::applyState);
    // The level moves the bars on the next frame; no repaint of its own.
    connect(&coordinator, &DictationCoordinator::audioLevelChanged, this,
        [this](double level) { m_model.audioLevel = level; });
}

void DictationHUDWaveformView::applyState()
{
    const DictationHUDWaveformModel model = DictationHUDWaveformModel::from(m_coordinator);
    const bool changed = model.phase != m_model.phase || model.animates != m_model.animates;
    m_model = model;
    const bool shouldRun = m_model.animates && isVisible();
    if (shouldRun && !m_frameTimer.isActive())
        m_frameTimer.start(kFrameIntervalMs, Qt::PreciseTimer, this);
    else if (!shouldRun && m_frameTimer.isActive())
        m_frameTimer.stop();
    if (changed)
        update();
}

void DictationHUDWaveformView::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    applyState();
}

void DictationHUDWaveformView::hideEvent(QHideEvent* event)
{
    QWidget::hideEvent(event);
    m_frameTimer.stop();
}

void DictationHUDWaveformView::timerEvent(QTimerEvent* event)
{
    if (event->timerId() == m_frameTimer.timerId())
        update();
    else
        QWidget::timerEvent(event);
}

void DictationHUDWaveformView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    const QDateTime now = QDateTime::currentDateTimeUtc();
    const int barsWidth = DictationHUDWaveformModel::barCount * DictationHUDWaveformModel::barWidth
        + (DictationHUDWaveformModel::barCount - 1) * DictationHUDWaveformModel::barSpacing;
    double x = (width() - barsWidth) * 0.5;
    for (int index = 0; index < DictationHUDWaveformModel::barCount; ++index) {
        const double height = m_model.barHeight(index, now);
        const QRectF bar(x, (this->height() - height) * 0.5, DictationHUDWaveformModel::barWidth, height);
        QPainterPath capsule;
        capsule.addRoundedRect(bar, bar.width() * 0.5, bar.width() * 0.5);
        painter.fillPath(capsule, m_model.barColor(index));
        x += DictationHUDWaveformModel::barWidth + DictationHUDWaveformModel::barSpacing;
    }
}

} // namespace tessvale
