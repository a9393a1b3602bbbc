#include "platform/linux/insertion/QtClipboard.h"

#include <QClipboard>
#include <QEventLoop>
#include <QFuture>
#include <QGuiApplication>
#include <QPromise>

#include <qcoro/qcorofuture.h>

#include "base/Logging.h"
#include "platform/linux/insertion/X11Selections.h"

#include <cstdlib>
#include <cstring>

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

xcb_atom_t internAtom(xcb_connection_t* connection, const char* name)
{
    const xcb_intern_atom_cookie_t cookie = xcb_intern_atom(connection, false, std::strlen(name), name);
    xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(connection, cookie, nullptr);
    const xcb_atom_t atom = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
    std::free(reply);
    return atom;
}

// The forms of plain text a paste asks for.
const char* const pasteTextTargets[]
    = { "UTF8_STRING", "STRING", "TEXT", "COMPOUND_TEXT", "text/plain", "text/plain;charset=utf-8" };

// A MULTIPLE request lists its targets in a property of the requestor: pairs of a target and the
// property for its answer. Whether one of them is in targets; a list of over 64 pairs is read no
// further, since no paste asks for that many.
bool multipleRequestAsksFor(
    xcb_connection_t* connection, const xcb_selection_request_event_t& request, const QList<unsigned long>& targets)
{
    if (request.property == XCB_ATOM_NONE)
        return false;
    constexpr uint32_t maxPairs = 64;
    const xcb_get_property_cookie_t cookie
        = xcb_get_property(connection, 0, request.requestor, request.property, XCB_ATOM_ANY, 0, maxPairs * 2);
    xcb_generic_error_t* error = nullptr;
    xcb_get_property_reply_t* reply = xcb_get_property_reply(connection, cookie, &error);
    std::free(error);
    bool found = false;
    if (reply && reply->format == 32) {
        const auto* atoms = static_cast<const uint32_t*>(xcb_get_property_value(reply));
        const int count = xcb_get_property_value_length(reply) / 4;
        for (int i = 0; i + 1 < count && !found; i += 2)
            found = targets.contains(atoms[i]);
    }
    std::free(reply);
    return found;
}

} // namespace

TrackingMimeData::TrackingMimeData(std::function<void(const QString&)> onFetch)
    : m_onFetch(std::move(onFetch))
{
}

QVariant TrackingMimeData::retrieveData(const QString& mimeType, QMetaType type) const
{
    if (m_onFetch)
        m_onFetch(mimeType);
    return QMimeData::retrieveData(mimeType, type);
}

QtClipboard::QtClipboard(QObject* parent)
    : QObject(parent)
{
    QClipboard* clipboard = systemClipboard();
    auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    if (clipboard && x11 && x11->connection()) {
        m_x11 = X11Selections::open();
        m_reader = m_x11 ? X11Selections::open() : nullptr;
        m_readerThread.setMaxThreadCount(1);
        const xcb_setup_t* setup = xcb_get_setup(x11->connection());
        m_qtResourceBase = setup->resource_id_base;
        m_qtResourceMask = setup->resource_id_mask;
        if (m_x11) {
            m_xcb = x11->connection();
            m_clipboardAtom = internAtom(x11->connection(), "CLIPBOARD");
            m_multipleAtom = internAtom(x11->connection(), "MULTIPLE");
            for (const char* name : pasteTextTargets)
                m_textAtoms << internAtom(x11->connection(), name);
            QCoreApplication::instance()->installNativeEventFilter(this);
        }
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
    if (m_xcb)
        QCoreApplication::instance()->removeNativeEventFilter(this);
    handOverAtExit();
    // A read under way ends by its time limit.
    m_readerThread.waitForDone();
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

QCoro::Task<ClipboardReading> QtClipboard::read(ClipboardSelection selection)
{
    QClipboard* clipboard = systemClipboard();
    if (!clipboard || (selection == ClipboardSelection::primary && !clipboard->supportsSelection()))
        co_return ClipboardReading {};
    ClipboardReading reading;
    ClipboardItemContent item;
    if (m_reader && !servedByUs(selection)) {
        QFuture<X11Selections::Reading> reader = readElsewhere(selection);
        const X11Selections::Reading read = co_await std::move(reader);
        // Nothing of ours from here: the clipboard may be gone by now.
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
    co_return reading;
}

QFuture<X11Selections::Reading> QtClipboard::readElsewhere(ClipboardSelection selection)
{
    auto promise = std::make_shared<QPromise<X11Selections::Reading>>();
    promise->start();
    QFuture<X11Selections::Reading> future = promise->future();
    m_readerThread.start([promise, reader = m_reader.get(), selection] {
        promise->addResult(reader->read(selection, snapshotTimeLimit));
        promise->finish();
    });
    return future;
}

PlatformResult QtClipboard::writeText(ClipboardSelection selection, const QString& text)
{
    QClipboard* clipboard = systemClipboard();
    if (!clipboard)
        return PlatformResult::failed(QStringLiteral("no clipboard without a graphical session"));
    if (selection == ClipboardSelection::primary && !clipboard->supportsSelection())
        return PlatformResult::failed(QStringLiteral("this desktop has no primary selection"));
    // On X11 the requests are seen with their requestor as they arrive (nativeEventFilter).
    auto* mime = new TrackingMimeData([self = QPointer<QtClipboard>(this), selection](const QString& format) {
        if (self && !self->m_xcb)
            self->notifyFetch({ selection, format.startsWith(QLatin1String("text/plain")), self->m_pasteKeyNoted });
    });
    mime->setText(text);
    clipboard->setMimeData(mime, modeOf(selection));
    (selection == ClipboardSelection::clipboard ? m_offeredClipboard : m_offeredPrimary) = mime;
    m_pasteKeyNoted = false;
    const bool owned = owns(clipboard, selection);
    noteOurOwnerChange(selection);
    if (!owned)
        return PlatformResult::failed(QStringLiteral("could not take the %1 selection")
                                          .arg(selection == ClipboardSelection::clipboard ? QStringLiteral("CLIPBOARD")
                                                                                          : QStringLiteral("PRIMARY")));
    return PlatformResult::ok();
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
        if (entry.value.typeId() == QMetaType::QString)
            mime->setData(entry.type, entry.value.toString().toUtf8());
        else
            mime->setData(entry.type, entry.value.toByteArray());
    }
    clipboard->setMimeData(mime, modeOf(selection));
    noteOurOwnerChange(selection);
}

void QtClipboard::setFetchObserver(std::function<void(const ClipboardFetch&)> observer)
{
    m_observer = std::move(observer);
}

void QtClipboard::notifyFetch(const ClipboardFetch& fetch)
{
    if (m_observer)
        m_observer(fetch);
}

void QtClipboard::notePasteKey()
{
    m_pasteKeyNoted = true;
    if (!m_xcb)
        return;
    auto* connection = static_cast<xcb_connection_t*>(m_xcb);
    // A round trip on Qt's connection: a request made before it was answered was made before the key
    // (whose events go out after this), and carries an older sequence number.
    const xcb_get_input_focus_cookie_t cookie = xcb_get_input_focus(connection);
    xcb_get_input_focus_reply_t* reply = xcb_get_input_focus_reply(connection, cookie, nullptr);
    m_pasteMark = cookie.sequence;
    // The keys go to the focus window; its application's connection made it (None and PointerRoot
    // name no window).
    const xcb_window_t focus = reply ? reply->focus : xcb_window_t(XCB_NONE);
    m_pasteClient = focus > XCB_INPUT_FOCUS_POINTER_ROOT ? (focus & ~m_qtResourceMask) : 0;
    std::free(reply);
}

bool QtClipboard::nativeEventFilter(const QByteArray& eventType, void* message, qintptr*)
{
    if (eventType != "xcb_generic_event_t")
        return false;
    const auto* event = static_cast<const xcb_generic_event_t*>(message);
    if ((event->response_type & 0x7f) != XCB_SELECTION_REQUEST)
        return false;
    const auto* request = reinterpret_cast<const xcb_selection_request_event_t*>(event);
    ClipboardSelection selection = ClipboardSelection::clipboard;
    if (request->selection == XCB_ATOM_PRIMARY)
        selection = ClipboardSelection::primary;
    else if (request->selection != m_clipboardAtom)
        return false;
    if (!(selection == ClipboardSelection::clipboard ? m_offeredClipboard : m_offeredPrimary))
        return false;
    // Seen before Qt answers it: a fetch is a request, answered right after.
    const bool afterKey = m_pasteKeyNoted && static_cast<qint32>(event->full_sequence - m_pasteMark) >= 0;
    const bool byFocused = m_pasteClient == 0 || (request->requestor & ~m_qtResourceMask) == m_pasteClient;
    const bool text = m_textAtoms.contains(request->target)
        || (request->target == m_multipleAtom
            && multipleRequestAsksFor(static_cast<xcb_connection_t*>(m_xcb), *request, m_textAtoms));
    notifyFetch({ selection, text, afterKey && byFocused });
    return false;
}

} // namespace tessvale
