#include "platform/linux/insertion/QtClipboard.h"

#include <QClipboard>
#include <QEventLoop>
#include <QGuiApplication>

#include "base/Logging.h"
#include "platform/linux/insertion/X11Selections.h"

#include <xcb/xcb.h>

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
    QClipboard* clipboard = systemClipboard();
    auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    if (clipboard && x11 && x11->connection()) {
        m_x11 = X11Selections::open();
        const xcb_setup_t* setup = xcb_get_setup(x11->connection());
        m_qtResourceBase = setup->resource_id_base;
        m_qtResourceMask = setup->resource_id_mask;
    }
    // Without X11 only the event loop tells us, which is late.
    if (clipboard && !m_x11)
        connect(clipboard, &QClipboard::changed, this, [this](QClipboard::Mode mode) {
            if (mode == QClipboard::Clipboard)
                ++m_clipboardOwnerChanges;
            else if (mode == QClipboard::Selection)
                ++m_primaryOwnerChanges;
        });
}

QtClipboard::~QtClipboard()
{
    handOverAtExit();
}

void QtClipboard::handOverAtExit()
{
    QClipboard* clipboard = systemClipboard();
    if (!clipboard || !m_x11)
        return;
    // Whoever watched fetches is gone by now.
    m_observer = nullptr;
    if (servedByUs(ClipboardSelection::clipboard) && m_x11->requestSave()) {
        const auto deadline = std::chrono::steady_clock::now() + handOverTimeLimit;
        bool answered = false;
        // The manager fetches the clipboard from our own event loop.
        while (!answered && std::chrono::steady_clock::now() < deadline) {
            QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
            answered = m_x11->saveAnswered(std::chrono::milliseconds(5));
        }
        if (!answered)
            qCWarning(lcTextInsertion) << "the clipboard manager did not take the clipboard within"
                                       << handOverTimeLimit.count() << "ms";
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    }
    // Qt hands what it still owns to the manager again as the application ends, and waits seconds
    // for a manager that answers late or never: let go of it now. A manager that took the selection
    // keeps it.
    for (const auto selection : { ClipboardSelection::clipboard, ClipboardSelection::primary })
        if (servedByUs(selection))
            clipboard->clear(modeOf(selection));
}

quint64 QtClipboard::ownerChangeCount(ClipboardSelection selection)
{
    if (m_x11)
        return m_x11->ownerChanges(selection);
    return selection == ClipboardSelection::clipboard ? m_clipboardOwnerChanges : m_primaryOwnerChanges;
}

void QtClipboard::noteOurOwnerChange(ClipboardSelection selection)
{
    if (!m_x11)
        return;
    (selection == ClipboardSelection::clipboard ? m_changesAfterOurClipboardWrite : m_changesAfterOurPrimaryWrite)
        = m_x11->ownerChanges(selection);
}

bool QtClipboard::servedByUs(ClipboardSelection selection)
{
    QClipboard* clipboard = systemClipboard();
    if (!m_x11)
        return clipboard && owns(clipboard, selection);
    // Qt learns of a lost or taken selection only through its event loop; the server knows now. The
    // owner window is ours when the server gave its id to Qt's connection.
    const unsigned long owner = m_x11->owner(selection);
    return owner != 0 && m_qtResourceMask != 0 && (owner & ~m_qtResourceMask) == m_qtResourceBase;
}

ClipboardReading QtClipboard::read(ClipboardSelection selection)
{
    QClipboard* clipboard = systemClipboard();
    if (!clipboard || (selection == ClipboardSelection::primary && !clipboard->supportsSelection()))
        return {};
    ClipboardReading reading;
    ClipboardItemContent item;
    if (m_x11 && !servedByUs(selection)) {
        const X11Selections::Reading read = m_x11->read(selection, snapshotTimeLimit);
        reading.complete = read.complete;
        for (const X11Selections::Target& target : read.targets) {
            ClipboardTypeContent content;
            content.type = target.name;
            content.data = target.data;
            item.types.append(content);
        }
    } else if (const QMimeData* mime = clipboard->mimeData(modeOf(selection))) {
        // X11 selections carry bytes per target: every format is kept as data.
        for (const QString& format : mime->formats()) {
            if (isSelectionProtocolTarget(format))
                continue;
            ClipboardTypeContent content;
            content.type = format;
            content.data = mime->data(format);
            item.types.append(content);
        }
    }
    if (!item.types.isEmpty())
        reading.items = { item };
    return reading;
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
    noteOurOwnerChange(selection);
    return owned;
}

bool QtClipboard::holdsOurText(ClipboardSelection selection)
{
    QClipboard* clipboard = systemClipboard();
    const QPointer<QMimeData>& offered
        = selection == ClipboardSelection::clipboard ? m_offeredClipboard : m_offeredPrimary;
    // Qt drops our data when another application takes the selection, but only once its event
    // loop has seen that; the server's owner-change count shows it at once.
    if (m_x11
        && m_x11->ownerChanges(selection)
            != (selection == ClipboardSelection::clipboard ? m_changesAfterOurClipboardWrite
                                                           : m_changesAfterOurPrimaryWrite))
        return false;
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
    noteOurOwnerChange(selection);
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
