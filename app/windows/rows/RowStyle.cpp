#include "windows/rows/RowStyle.h"

#include <QApplication>
#include <QPalette>

namespace tessvale {

namespace {

// Secondary texts stay readable on a small desktop font: never under 8 points (11 pixels), unless the
// body itself is smaller.
constexpr double kSmallestPointSize = 8;
constexpr int kSmallestPixelSize = 11;

// How far the subdued text must stand from the window in lightness, as the eye sees it blended.
constexpr qreal kSecondaryContrast = 0.25;
constexpr qreal kSecondaryOpacity = 0.55;
constexpr qreal kDisabledSecondaryOpacity = 0.35;

bool secondaryTextReadable(const QPalette& palette)
{
    const QColor window = palette.color(QPalette::Active, QPalette::Window);
    const QColor secondary = palette.color(QPalette::Active, QPalette::PlaceholderText);
    const qreal seen = secondary.lightnessF() * secondary.alphaF() + window.lightnessF() * (1 - secondary.alphaF());
    return qAbs(seen - window.lightnessF()) >= kSecondaryContrast;
}

} // namespace

QFont scaledFont(const QFont& base, double ratio, QFont::Weight weight)
{
    QFont font = base;
    if (font.pointSizeF() > 0)
        font.setPointSizeF(qMax(font.pointSizeF() * ratio, qMin(font.pointSizeF(), kSmallestPointSize)));
    else
        font.setPixelSize(qMax(qRound(font.pixelSize() * ratio), qMin(font.pixelSize(), kSmallestPixelSize)));
    font.setWeight(weight);
    return font;
}

QFont styledFont(TextStyle style, const QFont& base)
{
    switch (style) {
    case TextStyle::body:
        return scaledFont(base, 1.0, QFont::Normal);
    case TextStyle::bodyMedium:
        return scaledFont(base, 1.0, QFont::Medium);
    case TextStyle::bodySemibold:
        return scaledFont(base, 1.0, QFont::DemiBold);
    case TextStyle::title3Semibold:
        return scaledFont(base, 15.0 / 13.0, QFont::DemiBold);
    case TextStyle::subheadline:
        return scaledFont(base, 11.0 / 13.0, QFont::Normal);
    case TextStyle::subheadlineSemibold:
        return scaledFont(base, 11.0 / 13.0, QFont::DemiBold);
    case TextStyle::footnote:
    case TextStyle::caption:
        return scaledFont(base, 10.0 / 13.0, QFont::Normal);
    case TextStyle::captionSemibold:
        return scaledFont(base, 10.0 / 13.0, QFont::DemiBold);
    }
    return base;
}

QLabel* plainLabel(const QString& text, TextStyle style, bool secondary, QWidget* parent)
{
    auto* label = new QLabel(parent);
    label->setTextFormat(Qt::PlainText);
    label->setTextInteractionFlags(Qt::NoTextInteraction);
    label->setOpenExternalLinks(false);
    label->setWordWrap(true);
    label->setFont(styledFont(style, label->font()));
    if (secondary)
        label->setForegroundRole(QPalette::PlaceholderText);
    label->setText(text);
    return label;
}

void makeSelectable(QLabel* label)
{
    label->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    label->setCursor(Qt::IBeamCursor);
}

void applyText(QLabel* label, const QString& text)
{
    if (label->text() != text)
        label->setText(text);
}

void ensureReadableSecondaryText()
{
    QPalette palette = QApplication::palette();
    if (secondaryTextReadable(palette))
        return;
    for (const QPalette::ColorGroup group : { QPalette::Active, QPalette::Inactive, QPalette::Disabled }) {
        QColor secondary = palette.color(group, QPalette::WindowText);
        secondary.setAlphaF(group == QPalette::Disabled ? kDisabledSecondaryOpacity : kSecondaryOpacity);
        palette.setColor(group, QPalette::PlaceholderText, secondary);
    }
    QApplication::setPalette(palette);
}

QString pushButtonStyleSheet()
{
    // The focus ring takes the room of the padding, so the button keeps its size.
    return QStringLiteral("QPushButton[prominent=\"true\"] { background-color: palette(highlight); "
                          "color: palette(highlighted-text); border: none; border-radius: 6px; padding: 6px 14px; }"
                          "QPushButton[prominent=\"true\"]:focus { border: 2px solid palette(window-text); "
                          "padding: 4px 12px; }"
                          "QPushButton[prominent=\"true\"]:disabled { background-color: palette(mid); }"
                          "QPushButton[prominent=\"false\"] { background-color: palette(button); "
                          "color: palette(button-text); border: 1px solid palette(mid); border-radius: 6px; "
                          "padding: 5px 14px; }"
                          "QPushButton[prominent=\"false\"]:focus { border: 2px solid palette(highlight); "
                          "padding: 4px 13px; }"
                          "QPushButton[prominent=\"false\"]:flat { border: none; background: transparent; "
                          "color: palette(link); padding: 2px 0px; }"
                          "QPushButton[prominent=\"false\"]:flat:focus { border: none; text-decoration: underline; }");
}

QString escapedMnemonic(QString text)
{
    return text.replace(QLatin1Char('&'), QStringLiteral("&&"));
}

} // namespace tessvale
