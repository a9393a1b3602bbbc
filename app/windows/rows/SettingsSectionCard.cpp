#include "windows/rows/SettingsSectionCard.h"

#include <QPainter>
#include <QPainterPath>
#include <QVBoxLayout>

#include "windows/rows/RowStyle.h"

namespace tessvale {

SectionIntro::SectionIntro(const QString& title, const QString& detail, QWidget* parent)
    : QWidget(parent)
    , m_title(plainLabel(title, TextStyle::title3Semibold, false, this))
    , m_detail(plainLabel(detail, TextStyle::subheadline, true, this))
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(4);
    layout->addWidget(m_title);
    layout->addWidget(m_detail);
}

SettingsSectionCard::SettingsSectionCard(const QString& title, const QString& detail, QWidget* parent)
    : SettingsSectionCard(parent)
{
    m_content->setSpacing(headedSpacing);
    m_heading = new SectionIntro(title, detail, this);
    m_content->addWidget(m_heading);
}

SettingsSectionCard::SettingsSectionCard(QWidget* parent)
    : QWidget(parent)
    , m_content(new QVBoxLayout(this))
{
    m_content->setContentsMargins(padding, padding, padding, padding);
    m_content->setSpacing(0);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
}

void SettingsSectionCard::addContent(QWidget* widget)
{
    m_content->addWidget(widget);
}

void SettingsSectionCard::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath path;
    path.addRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), cornerRadius, cornerRadius);
    // A translucent base over the window's gradient stands in for the regular material. On a dark
    // palette the material is lighter than the window, and so the fields' and boxes' darker outlines
    // stand out from it.
    const bool dark = palette().color(QPalette::Window).lightness() < 128;
    QColor fill = palette().color(dark ? QPalette::WindowText : QPalette::Base);
    fill.setAlphaF(dark ? 0.06 : 0.72);
    painter.fillPath(path, fill);
    QColor stroke = palette().color(QPalette::WindowText);
    stroke.setAlphaF(0.06);
    painter.strokePath(path, QPen(stroke, 1));
}

} // namespace tessvale
