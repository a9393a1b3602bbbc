#pragma once

#include <QBasicTimer>
#include <QWidget>

#include "hud/DictationHUDModel.h"

namespace tessvale {

class DictationCoordinator;

// Six bars on the HUD's left. They are redrawn at most 24 times a second, and only while the widget is
// shown and the HUD is wanted; otherwise no timer runs.
class DictationHUDWaveformView final : public QWidget
{
    Q_OBJECT

public:
    explicit DictationHUDWaveformView(DictationCoordinator& coordinator, QWidget* parent = nullptr);

    bool isAnimating() const { return m_frameTimer.isActive(); }

protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void timerEvent(QTimerEvent* event) override;

private:
    void applyState();

    DictationCoordinator& m_coordinator;
    DictationHUDWaveformModel m_model;
    QBasicTimer m_frameTimer;
};

} // namespace tessvale
