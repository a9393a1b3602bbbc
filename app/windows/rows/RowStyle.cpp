#include "windows/rows/RowStyle.h"

namespace tessvale {

namespace {

// The desktop's body size is the base; the others keep their usual ratio to it.
QFont scaled(const QFont& base, double ratio, QFont::Weight weight)
{
    QFont font = base;
    if (font.pointSizeF() > 0)
        font.setPointSizeF(font.pointSizeF() * ratio);
    else
        font.setPixelSize(qMax(1, qRound(font.pixelSize() * ratio)));
    font.setWeight(weight);
    return font;
}

} // namespace

QFont styledFont(TextStyle style, const QFont& base)
{
    switch (style) {
    case TextStyle::body:
        return scaled(base, 1.0, QFont::Normal);
    case TextStyle::bodyMedium:
        return scaled(base, 1.0, QFont::Medium);
    case TextStyle::bodySemibold:
        return scaled(base, 1.0, QFont::DemiBold);
    case TextStyle::title3Semibold:
        return scaled(base, 15.0 / 13.0, QFont::DemiBold);
    case TextStyle::subheadline:
        return scaled(base, 11.0 / 13.0, QFont::Normal);
    case TextStyle::subheadlineSemibold:
        return scaled(base, 11.0 / 13.0, QFont::DemiBold);
    case TextStyle::footnote:
        return scaled(base, 10.0 / 13.0, QFont::Normal);
    case TextStyle::caption:
        return scaled(base, 10.0 / 13.0, QFont::Normal);
    case TextStyle::captionSemibold:
        return scaled(base, 10.0 / 13.0, QFont::DemiBold);
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

QString escapedMnemonic(QString text)
{
    return text.replace(QLatin1Char('&'), QStringLiteral("&&"));
}

} // namespace tessvale
