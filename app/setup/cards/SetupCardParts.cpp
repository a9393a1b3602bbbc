#include "setup/cards/SetupCardParts.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QVBoxLayout>

#include "icons/SymbolIcons.h"
#include "setup/SetupBlocks.h"
#include "windows/rows/RowStyle.h"

namespace tessvale {

void applyVisible(QWidget* widget, bool visible)
{
    if (widget->isHidden() == visible)
        widget->setVisible(visible);
}

void applyButtonText(QPushButton* button, const QString& title)
{
    const QString text = escapedMnemonic(title);
    if (button->text() != text)
        button->setText(text);
}

void applyEnabled(QWidget* widget, bool enabled)
{
    if (widget->isEnabled() != enabled)
        widget->setEnabled(enabled);
}

void applyModelButton(QPushButton* button, SetupAction& held, const SetupButton& model)
{
    applyButtonText(button, model.title);
    applyEnabled(button, model.enabled);
    held = model.action;
}

QVBoxLayout* column(int spacing, QWidget* parent)
{
    auto* layout = new QVBoxLayout(parent);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(spacing);
    return layout;
}

QHBoxLayout* row(int spacing)
{
    auto* layout = new QHBoxLayout;
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(spacing);
    return layout;
}

QLabel* redLabel()
{
    QLabel* label = plainLabel(QString(), TextStyle::footnote, false);
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, setupTintColor(SetupTint::red, palette));
    label->setPalette(palette);
    return label;
}

QLabel* headline(const QString& text)
{
    return plainLabel(text, TextStyle::bodySemibold, false);
}

QLabel* symbolLabel(
    const QString& name, const QString& spoken, SetupTint tint, int size, const QPalette& palette, qreal ratio)
{
    auto* label = new QLabel;
    label->setAccessibleName(spoken);
    label->setPixmap(tintedSymbolPixmap(name, setupTintColor(tint, palette), size, ratio));
    return label;
}

QLineEdit* addressField()
{
    auto* field = new QLineEdit;
    field->setAccessibleName(QStringLiteral("Sign-in address"));
    field->setReadOnly(true);
    field->setFont(styledFont(TextStyle::footnote, field->font()));
    return field;
}

void applyAddress(QLineEdit* field, const QString& address)
{
    if (field->text() != address) {
        field->setText(address);
        field->setCursorPosition(0);
    }
}

QPushButton* setupButton(const QString& title, bool prominent)
{
    auto* button = new QPushButton(escapedMnemonic(title));
    button->setAutoDefault(false);
    button->setProperty("prominent", prominent);
    return button;
}

SetupPanel::SetupPanel(std::optional<SetupTint> tint, qreal radius, qreal fillAlpha, qreal strokeAlpha, QWidget* parent)
    : QWidget(parent)
    , m_tint(tint)
    , m_radius(radius)
    , m_fillAlpha(fillAlpha)
    , m_strokeAlpha(strokeAlpha)
{
}

void SetupPanel::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QColor base = m_tint ? setupTintColor(*m_tint, palette()) : palette().color(QPalette::WindowText);
    QColor fill = base;
    fill.setAlphaF(m_fillAlpha);
    painter.setBrush(fill);
    if (m_strokeAlpha > 0) {
        QColor stroke = base;
        stroke.setAlphaF(m_strokeAlpha);
        painter.setPen(QPen(stroke, 1));
    } else {
        painter.setPen(Qt::NoPen);
    }
    painter.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), m_radius, m_radius);
}

} // namespace tessvale
