#include "platform/linux/insertion/X11Selections.h"

#include <functional>

#include <QStringList>

#include <poll.h>

#include "base/Logging.h"
#include "platform/linux/X11Connection.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/extensions/Xfixes.h>

namespace tessvale {

namespace {

using Clock = std::chrono::steady_clock;

// Events handled per drain; the rest wait for the next one.
constexpr int maxEventsPerDrain = 256;
// The most one request reads of a property, so a large one cannot hold us past the deadline.
constexpr qsizetype maxReadBytes = 1024 * 1024;

Atom selectionAtom(Display* display, ClipboardSelection selection)
{
    return selection == ClipboardSelection::clipboard ? XInternAtom(display, "CLIPBOARD", False) : XA_PRIMARY;
}

QString atomName(Display* display, Atom atom)
{
    char* name = XGetAtomName(display, atom);
    QString result = name ? QString::fromUtf8(name) : QString();
    if (name)
        XFree(name);
    return result;
}

} // namespace

std::unique_ptr<X11Selections> X11Selections::open()
{
    auto connection = X11Connection::open();
    if (!connection)
        return nullptr;
    int eventBase = 0;
    int errorBase = 0;
    if (!XFixesQueryExtension(connection->display(), &eventBase, &errorBase)) {
        qCWarning(lcTextInsertion) << "the X server has no XFixes extension; clipboard changes are seen late";
        return nullptr;
    }
    int major = 0;
    int minor = 0;
    XFixesQueryVersion(connection->display(), &major, &minor);
    return std::unique_ptr<X11Selections>(new X11Selections(std::move(connection), eventBase));
}

X11Selections::X11Selections(std::unique_ptr<X11Connection> connection, int fixesEventBase)
    : m_connection(std::move(connection))
    , m_fixesEventBase(fixesEventBase)
{
    Display* display = m_connection->display();
    m_window = XCreateWindow(
        display, DefaultRootWindow(display), -10, -10, 1, 1, 0, CopyFromParent, InputOnly, CopyFromParent, 0, nullptr);
    renewRequestor();
    m_property = XInternAtom(display, "TESSVALE_SELECTION", False);
    const unsigned long changes = XFixesSetSelectionOwnerNotifyMask | XFixesSelectionWindowDestroyNotifyMask
        | XFixesSelectionClientCloseNotifyMask;
    for (const auto selection : { ClipboardSelection::clipboard, ClipboardSelection::primary })
        XFixesSelectSelectionInput(display, m_window, selectionAtom(display, selection), changes);
    XSync(display, False);
}

X11Selections::~X11Selections()
{
    XDestroyWindow(m_connection->display(), m_requestor);
    XDestroyWindow(m_connection->display(), m_window);
}

void X11Selections::renewRequestor()
{
    Display* display = m_connection->display();
    if (m_requestor)
        XDestroyWindow(display, m_requestor);
    XSetWindowAttributes attributes {};
    attributes.event_mask = PropertyChangeMask;
    m_requestor = XCreateWindow(display, DefaultRootWindow(display), -10, -10, 1, 1, 0, CopyFromParent, InputOnly,
        CopyFromParent, CWEventMask, &attributes);
    m_selectionNotified = false;
    m_propertyChanged = false;
}

void X11Selections::drainEvents()
{
    Display* display = m_connection->display();
    const Atom clipboard = selectionAtom(display, ClipboardSelection::clipboard);
    for (int handled = 0; handled < maxEventsPerDrain && XPending(display) > 0; ++handled) {
        XEvent event;
        XNextEvent(display, &event);
        if (event.type == m_fixesEventBase + XFixesSelectionNotify) {
            const auto* change = reinterpret_cast<XFixesSelectionNotifyEvent*>(&event);
            if (change->selection == clipboard)
                ++m_clipboardChanges;
            else if (change->selection == XA_PRIMARY)
                ++m_primaryChanges;
        } else if (event.type == SelectionNotify && event.xselection.requestor == m_requestor
            && event.xselection.target == m_awaitedTarget) {
            // (A late answer to a conversion given up on names another target.)
            m_selectionNotified = true;
            m_notifiedProperty = event.xselection.property;
        } else if (event.type == PropertyNotify && event.xproperty.window == m_requestor
            && event.xproperty.atom == m_property && event.xproperty.state == PropertyNewValue) {
            m_propertyChanged = true;
        }
    }
}

quint64 X11Selections::ownerChanges(ClipboardSelection selection)
{
    XSync(m_connection->display(), False);
    drainEvents();
    return selection == ClipboardSelection::clipboard ? m_clipboardChanges : m_primaryChanges;
}

unsigned long X11Selections::owner(ClipboardSelection selection)
{
    Display* display = m_connection->display();
    return XGetSelectionOwner(display, selectionAtom(display, selection));
}

bool X11Selections::requestSave()
{
    Display* display = m_connection->display();
    if (XGetSelectionOwner(display, XInternAtom(display, "CLIPBOARD_MANAGER", False)) == None)
        return false;
    drainEvents();
    m_selectionNotified = false;
    m_awaitedTarget = XInternAtom(display, "SAVE_TARGETS", False);
    XConvertSelection(display, XInternAtom(display, "CLIPBOARD_MANAGER", False), m_awaitedTarget, m_property,
        m_requestor, CurrentTime);
    XFlush(display);
    return true;
}

bool X11Selections::saveAnswered(std::chrono::milliseconds wait)
{
    return waitForEvent(Clock::now() + wait, [this] { return m_selectionNotified; });
}

bool X11Selections::waitForEvent(Clock::time_point deadline, const std::function<bool()>& arrived)
{
    Display* display = m_connection->display();
    XFlush(display);
    // The deadline first: an owner that keeps sending must not keep us here.
    while (Clock::now() < deadline) {
        drainEvents();
        if (arrived())
            return true;
        if (XQLength(display) > 0)
            continue;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        pollfd descriptor { m_connection->fileDescriptor(), POLLIN, 0 };
        poll(&descriptor, 1, static_cast<int>(std::max<qint64>(left.count(), 0)) + 1);
    }
    return false;
}

std::optional<X11Selections::Piece> X11Selections::readPiece(qsizetype room, Clock::time_point deadline)
{
    Display* display = m_connection->display();
    Piece piece;
    // In bounded reads, the deadline checked between them; no more than may still be kept.
    for (long offset = 0;;) {
        unsigned long count = 0;
        unsigned long after = 0;
        unsigned char* bytes = nullptr;
        const long length = static_cast<long>(std::min<qsizetype>(maxReadBytes, room - piece.bytes.size() + 3) / 4);
        if (XGetWindowProperty(display, m_requestor, m_property, offset, length, False, AnyPropertyType, &piece.type,
                &piece.format, &count, &after, &bytes)
            != Success)
            return std::nullopt;
        const qsizetype before = piece.bytes.size();
        if (bytes) {
            // Xlib hands 32-bit items over as longs.
            if (piece.format == 32) {
                for (unsigned long i = 0; i < count; ++i) {
                    const auto item = static_cast<quint32>(reinterpret_cast<unsigned long*>(bytes)[i]);
                    piece.bytes.append(reinterpret_cast<const char*>(&item), sizeof item);
                }
            } else if (piece.format == 8 || piece.format == 16) {
                piece.bytes.append(
                    reinterpret_cast<const char*>(bytes), static_cast<qsizetype>(count) * (piece.format / 8));
            }
            XFree(bytes);
        }
        if (after == 0)
            return piece;
        if (piece.bytes.size() >= room || piece.bytes.size() == before) {
            piece.moreLeft = true;
            return piece;
        }
        if (Clock::now() >= deadline)
            return std::nullopt;
        offset += static_cast<long>((piece.bytes.size() - before) / 4);
    }
}

X11Selections::Converted X11Selections::convert(
    unsigned long selection, unsigned long target, Clock::time_point deadline, qsizetype maxBytes)
{
    Display* display = m_connection->display();
    XDeleteProperty(display, m_requestor, m_property);
    drainEvents();
    m_selectionNotified = false;
    m_propertyChanged = false;
    m_awaitedTarget = target;
    XConvertSelection(display, selection, target, m_property, m_requestor, CurrentTime);
    if (!waitForEvent(deadline, [this] { return m_selectionNotified; })) {
        renewRequestor();
        return { Answer::unfinished };
    }
    if (m_notifiedProperty == None)
        return { Answer::refused };
    const Atom incremental = XInternAtom(display, "INCR", False);
    SelectionTransfer transfer(maxBytes);
    int format = 0;
    while (true) {
        m_propertyChanged = false;
        const std::optional<Piece> piece = readPiece(transfer.room(), deadline);
        if (!piece) {
            renewRequestor();
            return { Answer::unfinished };
        }
        const Atom actualType = piece->type;
        format = piece->format;
        // Deleting it asks an incremental owner for its next piece.
        XDeleteProperty(display, m_requestor, m_property);
        // No property at all is not a piece (the notice was of an earlier change).
        const bool absent = actualType == None && transfer.isIncremental();
        if (!absent) {
            switch (transfer.receive(
                actualType == incremental && !transfer.isIncremental(), piece->bytes, piece->moreLeft)) {
            case SelectionTransfer::State::done:
                return { Answer::data, transfer.data(), format };
            case SelectionTransfer::State::tooLarge:
                qCInfo(lcTextInsertion) << "selection larger than" << maxSelectionBytes
                                        << "bytes in all; not read whole";
                renewRequestor();
                return { Answer::unfinished };
            case SelectionTransfer::State::receiving:
                break;
            }
        }
        if (!waitForEvent(deadline, [this] { return m_propertyChanged; })) {
            renewRequestor();
            return { Answer::unfinished };
        }
    }
}

X11Selections::Reading X11Selections::read(ClipboardSelection which, std::chrono::milliseconds limit)
{
    const Clock::time_point deadline = Clock::now() + limit;
    Display* display = m_connection->display();
    const Atom selection = selectionAtom(display, which);
    if (XGetSelectionOwner(display, selection) == None)
        return {};
    const Converted listed
        = convert(selection, XInternAtom(display, "TARGETS", False), deadline, maxSelectionTargets * 4);
    if (listed.answer != Answer::data) {
        qCInfo(lcTextInsertion) << "the selection owner did not list its formats in time";
        return { {}, false };
    }
    const QList<quint32> atoms = decodeTargetList(listed.data, listed.format);
    QStringList names;
    for (const quint32 atom : atoms)
        names << (Clock::now() < deadline ? atomName(display, atom) : QString());

    Reading reading;
    qsizetype kept = 0;
    for (const PlannedTarget& planned : planSnapshot(names)) {
        if (Clock::now() >= deadline) {
            qCInfo(lcTextInsertion) << "clipboard snapshot cut short at its time limit; kept" << reading.targets.size()
                                    << "formats";
            reading.complete = false;
            break;
        }
        for (const qsizetype candidate : planned.candidates) {
            const Converted converted = convert(selection, atoms[candidate], deadline, maxSelectionBytes - kept);
            if (converted.answer == Answer::refused)
                continue;
            kept += converted.data.size();
            if (converted.answer == Answer::unfinished) {
                reading.complete = false;
                break;
            }
            reading.targets.append({ planned.keptAs, textAsUtf8(names[candidate], converted.data) });
            break;
        }
        if (!reading.complete)
            break;
    }
    // A format refused is answered; one still pending at the limit is lost.
    if (Clock::now() >= deadline)
        reading.complete = false;
    return reading;
}

} // namespace tessvale
