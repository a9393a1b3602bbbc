#include "platform/linux/insertion/QtClipboard.h"

#include <QClipboard>
#include <QGuiApplication>

#include "system/Logging.h"

namespace tessvale {

namespace {

QClipboard* systemClipboard()
{
    return qobject_cast<QGuiApplication*>(QCoreApplication::instance()) ? QGuiApplication::clipboard() : nullptr;
}

QClipboard::Mode modeOf(ClipboardSelection selection)
{
    return selection == ClipboardSelection::clipboard ? QClipboard::Clipboard : QClipboard::Selection;
}

bool owns(QClipboard* clipboard, ClipboardSelection selection)
{
    return selection == ClipboardSelection::clipboard ? clipboard->ownsClipboard() : clipboard->ownsSelection();
}

} // namespace

TrackingMimeData::TrackingMimeData(ClipboardSelection selection, std::function<void(ClipboardSelection)> onFetch)
    : m_selection(selection)
    , m_onFetch(std::move(onFetch))
{
}

QVariant TrackingMimeData::retrieveData(const QString& mimeType, QMetaType type) const
{
    if (m_onFetch)
        m_onFetch(m_selection);
    return QMimeData::retrieveData(mimeType, type);
}

QtClipboard::QtClipboard(QObject* parent)
    : QObject(parent)
{
    // Seen through the event loop only, so late; the X11 backend watches the owner itself.
    if (QClipboard* clipboard = systemClipboard())
        connect(clipboard, &QClipboard::changed, this, [this](QClipboard::Mode mode) {
            if (mode == QClipboard::Clipboard)
                ++m_clipboardOwnerChanges;
            else if (mode == QClipboard::Selection)
                ++m_primaryOwnerChanges;
        });
}

quint64 QtClipboard::ownerChangeCount(ClipboardSelection selection)
{
    return selection == ClipboardSelection::clipboard ? m_clipboardOwnerChanges : m_primaryOwnerChanges;
}

QList<ClipboardItemContent> QtClipboard::items(ClipboardSelection selection)
{
    QClipboard* clipboard = systemClipboard();
    if (!clipboard || (selection == ClipboardSelection::primary && !clipboard->supportsSelection()))
        return {};
    const QMimeData* mime = clipboard->mimeData(modeOf(selection));
    if (!mime)
        return {};
    ClipboardItemContent item;
    // X11 selections carry bytes per target: every format is kept as data.
    for (const QString& format : mime->formats()) {
        ClipboardTypeContent content;
        content.type = format;
        content.data = mime->data(format);
        item.types.append(content);
    }
    if (item.types.isEmpty())
        return {};
    return { item };
}

bool QtClipboard::writeText(ClipboardSelection selection, const QString& text)
{
    QClipboard* clipboard = systemClipboard();
    if (!clipboard || (selection == ClipboardSelection::primary && !clipboard->supportsSelection()))
        return false;
    auto* mime = new TrackingMimeData(selection, [self = QPointer<QtClipboard>(this)](ClipboardSelection fetched) {
        if (self)
            self->notifyFetch(fetched);
    });
    mime->setText(text);
    clipboard->setMimeData(mime, modeOf(selection));
    (selection == ClipboardSelection::clipboard ? m_offeredClipboard : m_offeredPrimary) = mime;
    const bool owned = owns(clipboard, selection);
    if (!owned)
        qCWarning(lcTextInsertion) << "could not take the selection" << static_cast<int>(selection);
    return owned;
}

bool QtClipboard::holdsOurText(ClipboardSelection selection)
{
    QClipboard* clipboard = systemClipboard();
    const QPointer<QMimeData>& offered
        = selection == ClipboardSelection::clipboard ? m_offeredClipboard : m_offeredPrimary;
    // Qt drops our data when another application takes the selection.
    return clipboard && offered && owns(clipboard, selection)
        && clipboard->mimeData(modeOf(selection)) == offered.data();
}

void QtClipboard::restore(ClipboardSelection selection, const QList<QList<ClipboardWriteEntry>>& items)
{
    QClipboard* clipboard = systemClipboard();
    if (!clipboard)
        return;
    (selection == ClipboardSelection::clipboard ? m_offeredClipboard : m_offeredPrimary) = nullptr;
    if (items.isEmpty()) {
        clipboard->clear(modeOf(selection));
        return;
    }
    // An X11 selection holds one item; further items have nowhere to go.
    auto* mime = new QMimeData;
    for (const ClipboardWriteEntry& entry : items.first()) {
        if (entry.value.typeId() == QMetaType::QByteArray)
            mime->setData(entry.type, entry.value.toByteArray());
        else if (entry.value.typeId() == QMetaType::QString)
            mime->setData(entry.type, entry.value.toString().toUtf8());
        else
            mime->setData(entry.type, entry.value.toByteArray());
    }
    clipboard->setMimeData(mime, modeOf(selection));
}

void QtClipboard::setFetchObserver(std::function<void(ClipboardSelection)> observer)
{
    m_observer = std::move(observer);
}

void QtClipboard::notifyFetch(ClipboardSelection selection)
{
    if (m_observer)
        m_observer(selection);
}

} // namespace tessvale
