#include "windows/KeyboardNavigation.h"

#include <QApplication>
#include <QBoxLayout>
#include <QLabel>
#include <QShortcut>
#include <QWidget>

namespace tessvale {

namespace {

bool takesTabFocus(const QWidget* widget)
{
    return (widget->focusPolicy() & Qt::TabFocus) != 0;
}

// The widgets under root that Tab can reach, in the window's focus chain from root on.
QList<QWidget*> tabStops(QWidget* root)
{
    QList<QWidget*> stops;
    QWidget* widget = root;
    do {
        if (takesTabFocus(widget) && (widget == root || root->isAncestorOf(widget)))
            stops.append(widget);
        widget = widget->nextInFocusChain();
    } while (widget && widget != root);
    return stops;
}

} // namespace

void addCloseKeys(QWidget* window, const QList<QKeySequence>& keys)
{
    for (const QKeySequence& key : keys) {
        auto* shortcut = new QShortcut(key, window);
        shortcut->setContext(Qt::WindowShortcut);
        QObject::connect(shortcut, &QShortcut::activated, window, &QWidget::close);
    }
}

void putInTabChainAfterTheRest(QWidget* section)
{
    QWidget* page = section->parentWidget();
    auto* layout = page ? qobject_cast<QBoxLayout*>(page->layout()) : nullptr;
    if (!layout)
        return;
    // A widget given a parent joins the end of the window's focus chain: the sections below this
    // one join it again, in their order, after it.
    const int from = layout->indexOf(section);
    for (int i = from + 1; i >= 1 && i < layout->count(); ++i) {
        QWidget* later = layout->itemAt(i)->widget();
        if (!later)
            continue;
        const bool hidden = later->isHidden();
        const int stretch = layout->stretch(i);
        const Qt::Alignment alignment = layout->itemAt(i)->alignment();
        later->setParent(nullptr);
        later->setParent(page);
        layout->insertWidget(i, later, stretch, alignment);
        if (!hidden)
            later->show();
    }
}

bool focusFirstControl(QWidget* root)
{
    if (root->isAncestorOf(QApplication::focusWidget()))
        return true;
    for (QWidget* stop : tabStops(root)) {
        if (stop != root && !qobject_cast<QLabel*>(stop) && stop->isVisibleTo(root->window()) && stop->isEnabled()) {
            stop->setFocus(Qt::ActiveWindowFocusReason);
            return true;
        }
    }
    return false;
}

} // namespace tessvale
