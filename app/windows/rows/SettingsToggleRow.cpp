#include "windows/rows/SettingsToggleRow.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QSignalBlocker>
#include <QVBoxLayout>

#include "windows/rows/RowStyle.h"

namespace tessvale {

SwitchButton::SwitchButton(QWidget* parent)
    : QAbstractButton(parent)
{
    setCheckable(true);
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::StrongFocus);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

QSize SwitchButton::sizeHint() const
{
    return { 38, 22 };
}

void SwitchButton::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF track = QRectF(rect()).adjusted(1, 1, -1, -1);
    const qreal radius = track.height() / 2;
    QColor trackColor = isChecked() ? palette().color(QPalette::Highlight) : palette().color(QPalette::Mid);
    if (!isEnabled())
        trackColor.setAlphaF(0.4);
    QPainterPath path;
    path.addRoundedRect(track, radius, radius);
    painter.fillPath(path, trackColor);
    if (hasFocus())
        painter.strokePath(path, QPen(palette().color(QPalette::Highlight).darker(130), 1.5));
    const qreal knob = track.height() - 4;
    const qreal x = isChecked() ? track.right() - 2 - knob : track.left() + 2;
    painter.setBrush(palette().color(QPalette::Light));
    painter.setPen(Qt::NoPen);
    painter.drawEllipse(QRectF(x, track.top() + 2, knob, knob));
}

SettingsToggleRow::SettingsToggleRow(const QString& title, const QString& subtitle, Style style, QWidget* parent)
    : QWidget(parent)
    , m_title(plainLabel(title, TextStyle::bodyMedium, false, this))
    , m_subtitle(plainLabel(subtitle, TextStyle::footnote, true, this))
{
    auto* labels = new QVBoxLayout;
    labels->setContentsMargins(0, 0, 0, 0);
    labels->setSpacing(3);
    labels->addWidget(m_title);
    labels->addWidget(m_subtitle);

    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    if (style == Style::checkBox) {
        auto* box = new QCheckBox(this);
        box->setAccessibleName(title);
        m_toggle = box;
        row->addWidget(m_toggle, 0, Qt::AlignTop);
        row->addLayout(labels, 1);
    } else {
        m_toggle = new SwitchButton(this);
        m_toggle->setAccessibleName(title);
        row->addLayout(labels, 1);
        row->addWidget(m_toggle, 0, Qt::AlignVCenter);
    }
    connect(m_toggle, &QAbstractButton::clicked, this, &SettingsToggleRow::toggledByUser);
}

void SettingsToggleRow::setChecked(bool checked)
{
    if (m_toggle->isChecked() == checked)
        return;
    const QSignalBlocker blocker(m_toggle);
    m_toggle->setChecked(checked);
    m_toggle->update();
}

void SettingsToggleRow::setSubtitle(const QString& subtitle)
{
    applyText(m_subtitle, subtitle);
}

bool SettingsToggleRow::isChecked() const
{
    return m_toggle->isChecked();
}

} // namespace tessvale
