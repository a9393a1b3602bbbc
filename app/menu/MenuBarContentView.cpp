#include "menu/MenuBarContentView.h"

#include <QAbstractButton>
#include <QKeySequence>
#include <QPainter>
#include <QPainterPath>
#include <QShortcut>
#include <QVBoxLayout>

#include "coordinator/DictationCoordinator.h"
#include "menu/MenuCardRows.h"

namespace tessvale {

namespace {

const char* const kKindProperty = "menuRowKind";

// Later, not now: the row may be the button whose click is being handled.
void discard(QWidget* widget)
{
    widget->hide();
    widget->setParent(nullptr);
    widget->deleteLater();
}

} // namespace

MenuBarContentView::MenuBarContentView(DictationCoordinator& coordinator, std::function<void()> showSetup,
    std::function<void()> quit, std::function<void()> showSettings, QWidget* parent)
    : QWidget(parent)
    , m_coordinator(coordinator)
    , m_showSetup(std::move(showSetup))
    , m_quit(std::move(quit))
    , m_showSettings(std::move(showSettings))
    , m_stack(new QVBoxLayout(this))
{
    const int margin = kMenuOuterPadding + kMenuCardPadding;
    m_stack->setContentsMargins(margin, margin, margin, margin);
    m_stack->setSizeConstraint(QLayout::SetFixedSize);
    m_stack->setSpacing(0);
    // Both layouts end with "Quit Tessvale", bound to Ctrl+Q while the card has the keyboard.
    auto* quitShortcut = new QShortcut(QKeySequence(QStringLiteral("Ctrl+Q")), this);
    quitShortcut->setContext(Qt::WindowShortcut);
    connect(quitShortcut, &QShortcut::activated, this, [this] { trigger(MenuCommand::quit); });
    connect(&coordinator, &DictationCoordinator::stateChanged, this, &MenuBarContentView::refresh);
    refresh();
}

QWidget* MenuBarContentView::buttonFor(MenuCommand command) const
{
    for (qsizetype i = 0; i < m_content.rows.size() && i < m_rowWidgets.size(); ++i) {
        if (m_content.rows[i].command == command)
            return m_rowWidgets[i];
    }
    return nullptr;
}

void MenuBarContentView::refresh()
{
    apply(menuBarContent(MenuBarContentInput::from(m_coordinator)));
}

void MenuBarContentView::apply(const MenuBarContent& content)
{
    m_content = content;
    for (qsizetype i = 0; i < content.rows.size(); ++i) {
        const MenuRow& row = content.rows[i];
        QWidget* widget = i < m_rowWidgets.size() ? m_rowWidgets[i] : nullptr;
        if (widget && widget->property(kKindProperty).toInt() != static_cast<int>(row.kind)) {
            discard(widget);
            widget = nullptr;
        }
        if (!widget) {
            widget = makeMenuRow(row.kind, this);
            if (auto* button = qobject_cast<QAbstractButton*>(widget)) {
                connect(button, &QAbstractButton::clicked, this, [this, button] {
                    const qsizetype index = m_rowWidgets.indexOf(button);
                    if (index >= 0 && index < m_content.rows.size() && m_content.rows[index].command)
                        trigger(*m_content.rows[index].command);
                });
            }
            widget->setProperty(kKindProperty, static_cast<int>(row.kind));
            if (i < m_rowWidgets.size())
                m_rowWidgets[i] = widget;
            else
                m_rowWidgets.append(widget);
        }
        applyMenuRow(widget, row);
    }
    while (m_rowWidgets.size() > content.rows.size())
        discard(m_rowWidgets.takeLast());
    layoutRows();
}

void MenuBarContentView::layoutRows()
{
    // The command rows sit close together (2 apart); everything else is spaced as its layout says.
    QList<MenuRowKind> kinds;
    for (const MenuRow& row : m_content.rows)
        kinds.append(row.kind);
    const int spacing = m_content.signedIn ? 12 : 16;
    if (kinds == m_laidOutKinds && spacing == m_laidOutSpacing)
        return;
    m_laidOutKinds = kinds;
    m_laidOutSpacing = spacing;
    while (QLayoutItem* item = m_stack->takeAt(0))
        delete item;
    const auto isCommand
        = [](MenuRowKind kind) { return kind == MenuRowKind::menuRow || kind == MenuRowKind::updateRow; };
    for (qsizetype i = 0; i < m_rowWidgets.size(); ++i) {
        if (i > 0)
            m_stack->addSpacing(isCommand(kinds[i]) && isCommand(kinds[i - 1]) ? 2 : spacing);
        m_stack->addWidget(m_rowWidgets[i]);
    }
}

void MenuBarContentView::trigger(MenuCommand command)
{
    emit commandTriggered(command);
    performMenuCommand(command, m_coordinator, m_showSetup, m_quit, m_showSettings);
}

QPainterPath MenuBarContentView::cardShape() const
{
    QPainterPath shape;
    shape.addRoundedRect(
        QRectF(rect()).adjusted(kMenuOuterPadding, kMenuOuterPadding, -kMenuOuterPadding, -kMenuOuterPadding),
        kMenuCardRadius, kMenuCardRadius);
    return shape;
}

void MenuBarContentView::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    // The card opens on its status, so a screen reader says it first.
    if (!m_rowWidgets.isEmpty() && !isAncestorOf(focusWidget()) && isMenuTitleRow(m_rowWidgets.front()))
        m_rowWidgets.front()->setFocus(Qt::PopupFocusReason);
}

void MenuBarContentView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF card
        = QRectF(rect()).adjusted(kMenuOuterPadding, kMenuOuterPadding, -kMenuOuterPadding, -kMenuOuterPadding);
    // A soft shadow below the card, drawn in a few widening layers.
    for (int layer = 4; layer >= 1; --layer) {
        QPainterPath shadow;
        shadow.addRoundedRect(card.adjusted(-layer, -layer + 3, layer, layer + 3), 18 + layer, 18 + layer);
        painter.fillPath(shadow, QColor(0, 0, 0, 10));
    }
    fillRounded(painter, card, kMenuCardRadius, palette().color(QPalette::Window),
        withAlpha(palette().color(QPalette::WindowText), 0.1));
}

} // namespace tessvale
