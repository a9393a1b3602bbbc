#include "windows/DesktopAppearance.h"

#include <QApplication>
#include <QPointer>
#include <QWidget>

#include "windows/rows/RowStyle.h"

namespace tessvale {

DesktopAppearance::DesktopAppearance(std::shared_ptr<DesktopColorScheme> scheme, QObject* parent)
    : QObject(parent)
    , m_scheme(std::move(scheme))
    , m_startPalette(QApplication::palette())
{
    if (!m_scheme)
        return;
    apply(m_scheme->preference());
    QPointer<DesktopAppearance> self(this);
    m_scheme->watch([self](DesktopColorScheme::Preference preference) {
        if (self)
            self->apply(preference);
    });
}

DesktopAppearance::~DesktopAppearance()
{
    if (m_scheme)
        m_scheme->watch({});
}

void DesktopAppearance::apply(DesktopColorScheme::Preference preference)
{
    const bool dark = preference == DesktopColorScheme::Preference::dark;
    if (dark == m_dark)
        return;
    m_dark = dark;
    QApplication::setPalette(dark ? darkPalette() : m_startPalette);
    ensureReadableSecondaryText();
    // Style sheets took their colours from the palette they were polished with.
    for (QWidget* widget : QApplication::allWidgets()) {
        if (!widget->styleSheet().isEmpty())
            widget->setStyleSheet(widget->styleSheet());
    }
}

QPalette DesktopAppearance::darkPalette()
{
    const QColor window(0x2b, 0x2d, 0x30);
    const QColor base(0x1f, 0x21, 0x24);
    const QColor text(0xf0, 0xf0, 0xf0);
    const QColor disabledText(0x80, 0x80, 0x80);
    const QColor highlight(0x35, 0x84, 0xe4);
    QPalette palette;
    palette.setColor(QPalette::Window, window);
    palette.setColor(QPalette::WindowText, text);
    palette.setColor(QPalette::Base, base);
    palette.setColor(QPalette::AlternateBase, window);
    palette.setColor(QPalette::ToolTipBase, base);
    palette.setColor(QPalette::ToolTipText, text);
    palette.setColor(QPalette::Text, text);
    palette.setColor(QPalette::Button, QColor(0x3a, 0x3d, 0x41));
    palette.setColor(QPalette::ButtonText, text);
    palette.setColor(QPalette::BrightText, Qt::white);
    palette.setColor(QPalette::Light, QColor(0x4a, 0x4d, 0x52));
    palette.setColor(QPalette::Midlight, QColor(0x40, 0x43, 0x47));
    palette.setColor(QPalette::Mid, QColor(0x55, 0x58, 0x5d));
    palette.setColor(QPalette::Dark, QColor(0x18, 0x19, 0x1b));
    palette.setColor(QPalette::Shadow, Qt::black);
    palette.setColor(QPalette::Highlight, highlight);
    palette.setColor(QPalette::HighlightedText, Qt::white);
    palette.setColor(QPalette::Link, QColor(0x78, 0xae, 0xf5));
    palette.setColor(QPalette::LinkVisited, QColor(0xb0, 0x8c, 0xf0));
    QColor placeholder = text;
    placeholder.setAlphaF(0.6);
    palette.setColor(QPalette::PlaceholderText, placeholder);
    for (const QPalette::ColorRole role : { QPalette::WindowText, QPalette::Text, QPalette::ButtonText })
        palette.setColor(QPalette::Disabled, role, disabledText);
    palette.setColor(QPalette::Disabled, QPalette::Highlight, QColor(0x50, 0x53, 0x58));
    return palette;
}

} // namespace tessvale
