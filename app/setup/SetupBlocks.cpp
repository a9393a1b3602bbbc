#include "setup/SetupBlocks.h"

#include <QHBoxLayout>
#include <QPainter>
#include <QPainterPath>
#include <QVBoxLayout>

#include "icons/SymbolIcons.h"
#include "windows/rows/RowStyle.h"

namespace tessvale {

namespace {

void setForeground(QLabel* label, const QColor& color)
{
    QPalette palette = label->palette();
    if (palette.color(QPalette::WindowText) == color)
        return;
    palette.setColor(QPalette::WindowText, color);
    label->setPalette(palette);
}

} // namespace

QColor setupTintColor(SetupTint tint, const QPalette& palette)
{
    switch (tint) {
    case SetupTint::orange:
        return QColor(0xf0, 0x8c, 0x1a);
    case SetupTint::green:
        return QColor(0x2e, 0xa0, 0x4f);
    case SetupTint::red:
        return QColor(0xe5, 0x48, 0x4d);
    case SetupTint::blue:
        return QColor(0x2f, 0x7c, 0xf6);
    case SetupTint::secondary:
        break;
    }
    return palette.color(QPalette::PlaceholderText);
}

StatusBadge::StatusBadge(QWidget* parent)
    : QLabel(parent)
{
    setTextFormat(Qt::PlainText);
    setFont(styledFont(TextStyle::captionSemibold, font()));
    setContentsMargins(10, 6, 10, 6);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

void StatusBadge::setBadge(const SetupBadge& badge)
{
    applyText(this, badge.title);
    if (badge.tint != m_tint || palette().color(QPalette::WindowText) != setupTintColor(badge.tint, palette())) {
        m_tint = badge.tint;
        setForeground(this, setupTintColor(m_tint, palette()));
        update();
    }
}

void StatusBadge::paintEvent(QPaintEvent* event)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QColor fill = setupTintColor(m_tint, palette());
    fill.setAlphaF(0.12);
    const QRectF area = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    painter.setPen(Qt::NoPen);
    painter.setBrush(fill);
    painter.drawRoundedRect(area, area.height() / 2, area.height() / 2);
    painter.end();
    QLabel::paintEvent(event);
}

SummaryRow::SummaryRow(const QString& label, const QString& value, QWidget* parent)
    : QWidget(parent)
    , m_label(plainLabel(label, TextStyle::captionSemibold, true, this))
    , m_value(plainLabel(value, TextStyle::body, false, this))
{
    makeSelectable(m_value);
    m_value->setWordWrap(true);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(4);
    layout->addWidget(m_label);
    layout->addWidget(m_value);
}

void SummaryRow::setLabel(const QString& label)
{
    applyText(m_label, label);
}

void SummaryRow::setValue(const QString& value)
{
    applyText(m_value, value);
}

OnboardingStepRow::OnboardingStepRow(QWidget* parent)
    : QWidget(parent)
    , m_symbol(new QLabel(this))
    , m_title(plainLabel(QString(), TextStyle::bodySemibold, false, this))
    , m_detail(plainLabel(QString(), TextStyle::footnote, true, this))
{
    m_symbol->setFixedWidth(24);
    m_symbol->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    m_detail->setWordWrap(true);
    auto* text = new QVBoxLayout;
    text->setSpacing(4);
    text->addWidget(m_title);
    text->addWidget(m_detail);
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(14, 14, 14, 14);
    layout->setSpacing(12);
    layout->addWidget(m_symbol, 0, Qt::AlignTop);
    layout->addLayout(text, 1);
}

void OnboardingStepRow::setStep(const SetupStep& step)
{
    applyText(m_title, step.title);
    applyText(m_detail, step.detail);
    if (m_hasStep && step.state == m_step.state) {
        m_step = step;
        return;
    }
    m_hasStep = true;
    m_step = step;
    m_symbol->setPixmap(tintedSymbolPixmap(
        stepSymbolName(step.state), setupTintColor(stepTint(step.state), palette()), 18, devicePixelRatioF()));
    m_symbol->setAccessibleName(stepStateName(step.state));
}

void OnboardingStepRow::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QColor fill = palette().color(QPalette::WindowText);
    fill.setAlphaF(0.04);
    painter.setPen(Qt::NoPen);
    painter.setBrush(fill);
    painter.drawRoundedRect(QRectF(rect()), 16, 16);
}

PermissionLine::PermissionLine(const QString& title, QWidget* parent)
    : QWidget(parent)
{
    // Made first, so a screen reader reads the name before the state.
    QLabel* name = plainLabel(title, TextStyle::bodyMedium, false, this);
    m_state = plainLabel(QString(), TextStyle::subheadlineSemibold, false, this);
    m_state->setWordWrap(false);
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(name);
    layout->addStretch(1);
    layout->addWidget(m_state);
}

void PermissionLine::setState(PermissionState state)
{
    if (m_current == state)
        return;
    m_current = state;
    m_state->setText(permissionStateText(state));
    setForeground(m_state, setupTintColor(permissionStateTint(state), palette()));
}

} // namespace tessvale
