#include "menu/MenuCardRows.h"

#include <QAbstractButton>
#include <QHBoxLayout>
#include <QKeySequence>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QTextLayout>
#include <QVBoxLayout>

#include "icons/SymbolIcons.h"
#include "windows/AccessibleRole.h"
#include "windows/rows/RowStyle.h"

namespace tessvale {

QColor withAlpha(QColor color, double alpha)
{
    color.setAlphaF(alpha);
    return color;
}

void fillRounded(QPainter& painter, const QRectF& rect, qreal radius, const QBrush& fill, const QColor& stroke)
{
    QPainterPath path;
    path.addRoundedRect(rect.adjusted(0.5, 0.5, -0.5, -0.5), radius, radius);
    painter.fillPath(path, fill);
    if (stroke.isValid())
        painter.strokePath(path, QPen(stroke, 1));
}

namespace {

constexpr int kContentWidth = kMenuCardWidth - 2 * kMenuCardPadding;
constexpr int kTileSize = 32;

QColor tintColor(MenuTint tint, const QPalette& palette)
{
    switch (tint) {
    case MenuTint::red:
        return QColor(0xe5, 0x48, 0x4d);
    case MenuTint::orange:
        return QColor(0xf0, 0x8c, 0x1a);
    case MenuTint::blue:
        return QColor(0x2f, 0x7c, 0xf6);
    case MenuTint::accent:
        return palette.color(QPalette::Highlight);
    case MenuTint::secondary:
        return palette.color(QPalette::PlaceholderText);
    case MenuTint::none:
        break;
    }
    return palette.color(QPalette::WindowText);
}

// The keyboard focus on a text row: the row's outline in the highlight colour.
void paintFocusRing(QWidget* widget)
{
    if (!widget->hasFocus())
        return;
    QPainter painter(widget);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath ring;
    ring.addRoundedRect(QRectF(widget->rect()).adjusted(1, 1, -1, -1), 10, 10);
    painter.strokePath(ring, QPen(widget->palette().color(QPalette::Highlight), 2));
}

// A text row a screen reader reaches: Tab stops on it (the card is a popup, which Qt leaves out of
// the application's accessible tree, so the focus is how its status is read), named by its text; its
// focus ring follows the focus.
class ReadableRow : public QWidget
{
public:
    explicit ReadableRow(QWidget* parent)
        : QWidget(parent)
    {
        setFocusPolicy(Qt::TabFocus);
        setAccessibleRole(this, QAccessible::StaticText);
    }

protected:
    void focusInEvent(QFocusEvent* event) override
    {
        QWidget::focusInEvent(event);
        update();
    }
    void focusOutEvent(QFocusEvent* event) override
    {
        QWidget::focusOutEvent(event);
        update();
    }
};

void applyAccessibleText(QWidget* row, const QString& name, const QString& description)
{
    if (row->accessibleName() != name)
        row->setAccessibleName(name);
    if (row->accessibleDescription() != description)
        row->setAccessibleDescription(description);
}

// Plain text that wraps at word boundaries, or anywhere in a word too long for the line, inside a
// fixed width; it never widens the card and never reads markup.
class PlainTextBlock final : public QWidget
{
public:
    PlainTextBlock(int width, QWidget* parent)
        : QWidget(parent)
        , m_width(width)
    {
        setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
        setAccessibleRole(this, QAccessible::StaticText);
    }

    void setText(QString text)
    {
        if (accessibleName() != text)
            setAccessibleName(text);
        text.replace(QLatin1Char('\n'), QChar::LineSeparator);
        if (text == m_text)
            return;
        m_text = std::move(text);
        updateGeometry();
        update();
    }

    void setColor(const QColor& color)
    {
        if (color == m_color)
            return;
        m_color = color;
        update();
    }

    QSize sizeHint() const override { return { m_width, layoutHeight(nullptr) }; }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.setPen(m_color);
        layoutHeight(&painter);
    }

private:
    int layoutHeight(QPainter* painter) const
    {
        QTextLayout layout(m_text, font());
        QTextOption option;
        option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
        layout.setTextOption(option);
        layout.beginLayout();
        qreal height = 0;
        for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
            line.setLineWidth(m_width);
            line.setPosition(QPointF(0, height));
            height += line.height();
        }
        layout.endLayout();
        if (painter)
            layout.draw(painter, QPointF(0, 0));
        return qCeil(height);
    }

    int m_width;
    QString m_text;
    QColor m_color;
};

class IconTile final : public QWidget
{
public:
    explicit IconTile(QWidget* parent)
        : QWidget(parent)
    {
        setFixedSize(kTileSize, kTileSize);
    }

    void setSymbol(const QString& symbol, const QColor& tint)
    {
        if (symbol == m_symbol && tint == m_tint)
            return;
        m_symbol = symbol;
        m_tint = tint;
        update();
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        fillRounded(painter, rect(), 10, withAlpha(m_tint, 0.18), withAlpha(m_tint, 0.24));
        const QPixmap symbol = tintedSymbolPixmap(m_symbol, m_tint, 16, devicePixelRatioF());
        painter.drawPixmap((kTileSize - 16) / 2, (kTileSize - 16) / 2, symbol);
    }

private:
    QString m_symbol;
    QColor m_tint;
};

// The status card and the signed-out header: a tinted tile, a title and a wrapping detail.
class TitleRow final : public ReadableRow
{
public:
    TitleRow(MenuRowKind kind, QWidget* parent)
        : ReadableRow(parent)
        , m_tile(new IconTile(this))
    {
        const int spacing = kind == MenuRowKind::header ? 12 : 10;
        const int textWidth = kContentWidth - kTileSize - spacing;
        m_title = new PlainTextBlock(textWidth, this);
        m_detail = new PlainTextBlock(textWidth, this);
        m_title->setFont(kind == MenuRowKind::header ? scaledFont(font(), 1.25, QFont::DemiBold)
                                                     : scaledFont(font(), 1.0, QFont::Bold));
        m_detail->setFont(scaledFont(font(), 0.85, QFont::Normal));
        auto* texts = new QVBoxLayout;
        texts->setSpacing(3);
        texts->addWidget(m_title);
        texts->addWidget(m_detail);
        auto* layout = new QHBoxLayout(this);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->setSpacing(spacing);
        layout->addWidget(m_tile, 0, Qt::AlignTop);
        layout->addLayout(texts);
    }

    void apply(const MenuRow& row)
    {
        const QColor tint = tintColor(row.tint, palette());
        m_tile->setSymbol(row.symbol, tint);
        m_title->setText(row.title);
        m_title->setColor(palette().color(QPalette::WindowText));
        m_detail->setText(row.detail);
        m_detail->setColor(palette().color(QPalette::PlaceholderText));
        if (m_detail->isHidden() != row.detail.isEmpty())
            m_detail->setHidden(row.detail.isEmpty());
        applyAccessibleText(this, row.title, row.detail);
    }

protected:
    void paintEvent(QPaintEvent*) override { paintFocusRing(this); }

private:
    IconTile* m_tile;
    PlainTextBlock* m_title;
    PlainTextBlock* m_detail;
};

// The partial transcript or the error: a symbol and wrapping text on a faint tinted background.
class MessageRow final : public ReadableRow
{
public:
    explicit MessageRow(QWidget* parent)
        : ReadableRow(parent)
        , m_symbol(new QWidget(this))
        , m_text(new PlainTextBlock(kContentWidth - 2 * 12 - 14 - 10, this))
    {
        m_symbol->setFixedSize(14, 15);
        m_symbol->installEventFilter(this);
        m_text->setFont(scaledFont(font(), 0.92, QFont::Normal));
        auto* layout = new QHBoxLayout(this);
        layout->setContentsMargins(12, 12, 12, 12);
        layout->setSpacing(10);
        layout->addWidget(m_symbol, 0, Qt::AlignTop);
        layout->addWidget(m_text, 0, Qt::AlignTop);
        layout->addStretch();
    }

    void apply(const MenuRow& row)
    {
        const QColor tint = tintColor(row.tint, palette());
        if (row.symbol != m_symbolName || tint != m_tint) {
            m_symbolName = row.symbol;
            m_tint = tint;
            update();
            m_symbol->update();
        }
        m_text->setText(row.title);
        m_text->setColor(tint);
        applyAccessibleText(this, row.title, QString());
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        {
            QPainter painter(this);
            painter.setRenderHint(QPainter::Antialiasing);
            fillRounded(painter, rect(), 10, withAlpha(m_tint, 0.08), QColor());
        }
        paintFocusRing(this);
    }

    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (watched == m_symbol && event->type() == QEvent::Paint) {
            QPainter painter(m_symbol);
            painter.drawPixmap(0, 1, tintedSymbolPixmap(m_symbolName, m_tint, 14, devicePixelRatioF()));
            return true;
        }
        return QWidget::eventFilter(watched, event);
    }

private:
    QWidget* m_symbol;
    PlainTextBlock* m_text;
    QString m_symbolName;
    QColor m_tint;
};

// Every pressable row: the primary and secondary buttons, the update row and the menu rows.
class CardButton final : public QAbstractButton
{
public:
    CardButton(MenuRowKind kind, QWidget* parent)
        : QAbstractButton(parent)
        , m_kind(kind)
    {
        setFocusPolicy(Qt::TabFocus);
        setAttribute(Qt::WA_Hover);
        setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    }

    void apply(const MenuRow& row)
    {
        if (row.title != text()) {
            // Only the title reaches the accessible name; no mnemonic is read from it.
            setText(row.title);
            setAccessibleName(row.title);
        }
        if (row.enabled != isEnabled())
            setEnabled(row.enabled);
        if (row == m_row)
            return;
        m_row = row;
        updateGeometry();
        update();
    }

    QSize sizeHint() const override
    {
        const QFontMetrics metrics(font());
        switch (m_kind) {
        case MenuRowKind::primaryButton:
        case MenuRowKind::secondaryButton:
            return { kContentWidth, metrics.height() + 20 };
        case MenuRowKind::updateRow:
            return { kContentWidth, metrics.height() + QFontMetrics(captionFont()).height() + 1 + 16 };
        default:
            return { kContentWidth, metrics.height() + 16 };
        }
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        if (!isEnabled())
            painter.setOpacity(0.45);
        const Look look = paintBackground(painter);
        const int symbolSize = 15;
        painter.drawPixmap(look.left, (height() - symbolSize) / 2,
            tintedSymbolPixmap(m_row.symbol, look.symbolColour, symbolSize, devicePixelRatioF()));
        const int textLeft = look.left + 16 + 10;
        const QRect textRect(textLeft, 0, width() - textLeft - look.left, height());
        if (m_kind == MenuRowKind::updateRow)
            paintUpdateTexts(painter, look, textRect);
        else
            paintTitle(painter, look, textRect);
    }

private:
    // How the row's kind draws its title and symbol over the background it painted.
    struct Look
    {
        QColor titleColour;
        QColor symbolColour;
        QFont titleFont;
        int left = 10;
    };

    // A disabled row is the enabled one faded, so it reads alike on light and dark palettes.
    QColor textColour() const { return palette().color(QPalette::Active, QPalette::WindowText); }
    QColor secondaryColour() const { return palette().color(QPalette::Active, QPalette::PlaceholderText); }

    Look paintBackground(QPainter& painter) const
    {
        const QColor text = textColour();
        const QColor tint = tintColor(m_row.tint, palette());
        const bool hovered = underMouse() && isEnabled();
        Look look { text, secondaryColour(), font(), 10 };
        switch (m_kind) {
        case MenuRowKind::primaryButton: {
            QLinearGradient gradient(0, 0, 0, height());
            gradient.setColorAt(0, tint.lighter(hovered ? 125 : 112));
            gradient.setColorAt(1, tint.darker(hovered ? 95 : 104));
            fillRounded(painter, rect(), 12, gradient, QColor());
            look.titleColour = look.symbolColour = Qt::white;
            look.titleFont.setWeight(QFont::DemiBold);
            look.left = 12;
            // The keyboard focus: a white ring inside the tint.
            if (hasFocus()) {
                QPainterPath ring;
                ring.addRoundedRect(QRectF(rect()).adjusted(2.5, 2.5, -2.5, -2.5), 10, 10);
                painter.strokePath(ring, QPen(withAlpha(Qt::white, 0.9), 2));
            }
            break;
        }
        case MenuRowKind::secondaryButton:
            fillRounded(painter, rect(), 12, withAlpha(text, hovered ? 0.09 : 0.05),
                hasFocus() ? palette().color(QPalette::Highlight) : withAlpha(text, 0.08));
            look.titleFont.setWeight(QFont::Medium);
            look.left = 12;
            break;
        case MenuRowKind::updateRow:
            fillRounded(painter, rect(), 10, withAlpha(tint, hovered ? 0.11 : 0.06), withAlpha(tint, 0.12));
            look.symbolColour = tint;
            look.titleFont.setWeight(QFont::Medium);
            break;
        default:
            if (hovered || hasFocus())
                fillRounded(painter, rect(), 10, withAlpha(text, 0.07), QColor());
            break;
        }
        return look;
    }

    // The update row: its badge on the right, the title over the detail beside it.
    void paintUpdateTexts(QPainter& painter, const Look& look, QRect textRect) const
    {
        const QColor tint = tintColor(m_row.tint, palette());
        const QFont caption = captionFont();
        QFont badgeFont = caption;
        badgeFont.setWeight(QFont::DemiBold);
        const QFontMetrics badgeMetrics(badgeFont);
        const QSize badgeSize(badgeMetrics.horizontalAdvance(m_row.badge) + 16, badgeMetrics.height() + 8);
        const QRect badge(
            QPoint(width() - look.left - badgeSize.width(), (height() - badgeSize.height()) / 2), badgeSize);
        fillRounded(painter, badge, badgeSize.height() / 2.0, withAlpha(tint, 0.12), QColor());
        painter.setFont(badgeFont);
        painter.setPen(tint);
        painter.drawText(badge, Qt::AlignCenter, m_row.badge);
        textRect.setRight(badge.left() - 8);
        const int titleHeight = QFontMetrics(look.titleFont).height();
        painter.setFont(look.titleFont);
        painter.setPen(look.titleColour);
        painter.drawText(textRect.adjusted(0, 8, 0, 0), Qt::AlignLeft | Qt::AlignTop, m_row.title);
        painter.setFont(caption);
        painter.setPen(secondaryColour());
        painter.drawText(textRect.adjusted(0, 8 + titleHeight + 1, 0, 0), Qt::AlignLeft | Qt::AlignTop, m_row.detail);
    }

    // The title, elided, with the command's shortcut on the right.
    void paintTitle(QPainter& painter, const Look& look, const QRect& textRect) const
    {
        if (!m_row.shortcut.isEmpty()) {
            const QString shortcut = QKeySequence(m_row.shortcut).toString(QKeySequence::NativeText);
            painter.setFont(captionFont());
            painter.setPen(secondaryColour());
            painter.drawText(textRect, Qt::AlignRight | Qt::AlignVCenter, shortcut);
        }
        painter.setFont(look.titleFont);
        painter.setPen(look.titleColour);
        painter.drawText(textRect, Qt::AlignLeft | Qt::AlignVCenter,
            QFontMetrics(look.titleFont).elidedText(m_row.title, Qt::ElideRight, textRect.width()));
    }

    QFont captionFont() const { return scaledFont(font(), 0.85, QFont::Normal); }

    MenuRowKind m_kind;
    MenuRow m_row;
};

class Divider final : public QWidget
{
public:
    explicit Divider(QWidget* parent)
        : QWidget(parent)
    {
        setFixedSize(kContentWidth, 1);
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter(this).fillRect(rect(), withAlpha(palette().color(QPalette::WindowText), 0.12));
    }
};

} // namespace

QWidget* makeMenuRow(MenuRowKind kind, QWidget* parent)
{
    switch (kind) {
    case MenuRowKind::statusCard:
    case MenuRowKind::header:
        return new TitleRow(kind, parent);
    case MenuRowKind::message:
        return new MessageRow(parent);
    case MenuRowKind::divider:
        return new Divider(parent);
    default:
        return new CardButton(kind, parent);
    }
}

void applyMenuRow(QWidget* widget, const MenuRow& row)
{
    if (auto* title = dynamic_cast<TitleRow*>(widget))
        title->apply(row);
    else if (auto* message = dynamic_cast<MessageRow*>(widget))
        message->apply(row);
    else if (auto* button = dynamic_cast<CardButton*>(widget))
        button->apply(row);
}

bool isMenuTitleRow(const QWidget* widget)
{
    return dynamic_cast<const TitleRow*>(widget) != nullptr;
}

} // namespace tessvale
