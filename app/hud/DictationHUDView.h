#pragma once

#include <functional>

#include <QAbstractButton>
#include <QIcon>
#include <QString>
#include <QWidget>

#include "hud/DictationHUDModel.h"

class QLabel;

namespace tessvale {

class DictationCoordinator;
class DictationHUDWaveformView;

using SymbolIconProvider = std::function<QIcon(const QString& name)>;

// The stop button: a white disc with the stop symbol. It never takes the keyboard focus.
class HUDStopButton final : public QAbstractButton
{
    Q_OBJECT

public:
    explicit HUDStopButton(QWidget* parent = nullptr);
    void setSymbol(const QIcon& icon);
    QSize sizeHint() const override { return { 30, 30 }; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QIcon m_icon;
};

// One line of plain text that ends in an ellipsis when it does not fit.
class ElidedLabel final : public QWidget
{
    Q_OBJECT

public:
    explicit ElidedLabel(QWidget* parent = nullptr);
    void setText(const QString& text);
    const QString& text() const { return m_text; }
    void setColor(const QColor& color);
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString m_text;
    QColor m_color;
};

// The HUD's content: a dark capsule with the waveform, the coordinator's HUD title and subtitle, and
// the stop button or the phase's symbol.
class DictationHUDView final : public QWidget
{
    Q_OBJECT

public:
    static constexpr QSize hudSize { 420, 68 };

    DictationHUDView(DictationCoordinator& coordinator, SymbolIconProvider icons, QWidget* parent = nullptr);

    // Applies what differs from what is shown.
    void apply(const DictationHUDViewModel& model);
    // Shows the failure that ended a dictation instead of the phase; a click on it is startFailureClicked().
    void setShowsStartFailure(bool shows);

    HUDStopButton* stopButton() const { return m_stopButton; }
    QLabel* symbolLabel() const { return m_symbol; }
    QLabel* titleLabel() const { return m_title; }
    ElidedLabel* subtitleLabel() const { return m_subtitle; }
    DictationHUDWaveformView* waveform() const { return m_waveform; }

signals:
    void startFailureClicked();

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

private:
    DictationHUDViewModel currentModel() const;

    DictationCoordinator& m_coordinator;
    SymbolIconProvider m_icons;
    DictationHUDWaveformView* m_waveform;
    QLabel* m_title;
    ElidedLabel* m_subtitle;
    HUDStopButton* m_stopButton;
    QLabel* m_symbol;
    QString m_stopSymbolShown;
    QString m_symbolShown;
    bool m_showsStartFailure = false;
};

// The icon in one colour (the icons are single-colour shapes), at a device pixel ratio of ratio.
QPixmap tintedSymbol(const QIcon& icon, int side, const QColor& color, qreal ratio);

} // namespace tessvale
