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

// The forms of plain text an owner may offer, best first; they become one "text/plain" type.
const char* const textTargets[] = { "UTF8_STRING", "text/plain;charset=utf-8", "STRING", "TEXT", "text/plain" };

bool isTextTarget(const QString& name)
{
    for (const char* text : textTargets)
        if (name == QLatin1String(text))
            return true;
    return name == QLatin1String("COMPOUND_TEXT");
}

Atom selectionAtom(Display* display, ClipboardSelection selection)
{
    return selection == ClipboardSelection::clipboard ? XInternAtom(display, "CLIPBOARD", False) : XA_PRIMARY;
}

QString atomName(Display* display, Atom atom)
{
    char* name = XGetAtomName(display, atom);
    const QString result = name ? QString::fromUtf8(name) : QString();
    if (name)
        XFree(name);
    return result;
}

} // namespace

bool isSelectionProtocolTarget(const QString& name)
{
    static const QStringList protocol { QStringLiteral("TARGETS"), QStringLiteral("MULTIPLE"),
        QStringLiteral("TIMESTAMP"), QStringLiteral("SAVE_TARGETS"), QStringLiteral("DELETE"),
        QStringLiteral("INSERT_SELECTION"), QStringLiteral("INSERT_PROPERTY"), QStringLiteral("LENGTH"),
        QStringLiteral("PIXMAP"), QStringLiteral("BITMAP"), QStringLiteral("DRAWABLE"), QStringLiteral("COLORMAP") };
    return protocol.contains(name);
}

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
    XSetWindowAttributes attributes {};
    attributes.event_mask = PropertyChangeMask;
    m_window = XCreateWindow(display, DefaultRootWindow(display), -10, -10, 1, 1, 0, CopyFromParent, InputOnly,
        CopyFromParent, CWEventMask, &attributes);
    m_property = XInternAtom(display, "TESSVALE_SELECTION", False);
    const unsigned long changes = XFixesSetSelectionOwnerNotifyMask | XFixesSelectionWindowDestroyNotifyMask
        | XFixesSelectionClientCloseNotifyMask;
    for (const auto selection : { ClipboardSelection::clipboard, ClipboardSelection::primary })
        XFixesSelectSelectionInput(display, m_window, selectionAtom(display, selection), changes);
    XSync(display, False);
}

X11Selections::~X11Selections()
{
    XDestroyWindow(m_connection->display(), m_window);
}

void X11Selections::drainEvents()
{
    Display* display = m_connection->display();
    const Atom clipboard = selectionAtom(display, ClipboardSelection::clipboard);
    while (XPending(display) > 0) {
        XEvent event;
        XNextEvent(display, &event);
        if (event.type == m_fixesEventBase + XFixesSelectionNotify) {
            const auto* change = reinterpret_cast<XFixesSelectionNotifyEvent*>(&event);
            if (change->selection == clipboard)
                ++m_clipboardChanges;
            else if (change->selection == XA_PRIMARY)
                ++m_primaryChanges;
        } else if (event.type == SelectionNotify && event.xselection.requestor == m_window
            && event.xselection.target == m_awaitedTarget) {
            // (A late answer to a conversion given up on names another target.)
            m_selectionNotified = true;
            m_notifiedProperty = event.xselection.property;
        } else if (event.type == PropertyNotify && event.xproperty.window == m_window
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
    XConvertSelection(
        display, XInternAtom(display, "CLIPBOARD_MANAGER", False), m_awaitedTarget, m_property, m_window, CurrentTime);
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
    while (true) {
        drainEvents();
        if (arrived())
            return true;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0)
            return false;
        pollfd descriptor { m_connection->fileDescriptor(), POLLIN, 0 };
        poll(&descriptor, 1, static_cast<int>(left.count()) + 1);
    }
}

std::optional<QByteArray> X11Selections::convert(
    unsigned long selection, unsigned long target, Clock::time_point deadline, unsigned long* type)
{
    Display* display = m_connection->display();
    XDeleteProperty(display, m_window, m_property);
    drainEvents();
    m_selectionNotified = false;
    m_propertyChanged = false;
    m_awaitedTarget = target;
    XConvertSelection(display, selection, target, m_property, m_window, CurrentTime);
    if (!waitForEvent(deadline, [this] { return m_selectionNotified; }) || m_notifiedProperty == None)
        return std::nullopt;
    const Atom incremental = XInternAtom(display, "INCR", False);
    QByteArray data;
    bool incrementalTransfer = false;
    while (true) {
        Atom actualType = None;
        int format = 0;
        unsigned long count = 0;
        unsigned long after = 0;
        unsigned char* bytes = nullptr;
        m_propertyChanged = false;
        // Reading deletes the property, which asks an incremental owner for its next piece.
        if (XGetWindowProperty(display, m_window, m_property, 0, 0x1fffffff, True, AnyPropertyType, &actualType,
                &format, &count, &after, &bytes)
            != Success)
            return std::nullopt;
        QByteArray piece;
        if (bytes) {
            // Xlib hands 32-bit items over as longs.
            if (format == 32) {
                for (unsigned long i = 0; i < count; ++i) {
                    const auto item = static_cast<quint32>(reinterpret_cast<unsigned long*>(bytes)[i]);
                    piece.append(reinterpret_cast<const char*>(&item), sizeof item);
                }
            } else {
                piece = QByteArray(reinterpret_cast<const char*>(bytes), static_cast<qsizetype>(count * (format / 8)));
            }
            XFree(bytes);
        }
        if (!incrementalTransfer && actualType == incremental) {
            incrementalTransfer = true;
        } else {
            if (type && actualType != incremental)
                *type = actualType;
            if (!incrementalTransfer)
                return piece;
            if (piece.isEmpty())
                return data;
            data += piece;
        }
        if (!waitForEvent(deadline, [this] { return m_propertyChanged; }))
            return std::nullopt;
    }
}

X11Selections::Reading X11Selections::read(ClipboardSelection which, std::chrono::milliseconds limit)
{
    const Clock::time_point deadline = Clock::now() + limit;
    Display* display = m_connection->display();
    const Atom selection = selectionAtom(display, which);
    if (XGetSelectionOwner(display, selection) == None)
        return {};
    const std::optional<QByteArray> listed = convert(selection, XInternAtom(display, "TARGETS", False), deadline);
    if (!listed) {
        qCInfo(lcTextInsertion) << "the selection owner did not list its formats in time";
        return { {}, false };
    }
    QList<Atom> atoms;
    for (qsizetype i = 0; i + 4 <= listed->size(); i += 4)
        atoms << *reinterpret_cast<const quint32*>(listed->constData() + i);
    QStringList names;
    for (const Atom atom : atoms)
        names << atomName(display, atom);

    Reading reading;
    QList<Target>& targets = reading.targets;
    bool textDone = false;
    for (qsizetype i = 0; i < atoms.size(); ++i) {
        const QString& name = names[i];
        if (name.isEmpty() || isSelectionProtocolTarget(name) || (textDone && isTextTarget(name)))
            continue;
        if (Clock::now() >= deadline) {
            qCInfo(lcTextInsertion) << "clipboard snapshot cut short at its time limit; kept" << targets.size()
                                    << "formats";
            reading.complete = false;
            break;
        }
        if (isTextTarget(name)) {
            // Plain text once, in its best form, as Qt names it.
            textDone = true;
            for (const char* text : textTargets) {
                const auto at = names.indexOf(QLatin1String(text));
                if (at < 0)
                    continue;
                const std::optional<QByteArray> data = convert(selection, atoms[at], deadline);
                if (!data)
                    continue;
                const bool latin1 = names[at] == QLatin1String("STRING") || names[at] == QLatin1String("TEXT");
                targets.append({ QStringLiteral("text/plain"), latin1 ? QString::fromLatin1(*data).toUtf8() : *data });
                break;
            }
            continue;
        }
        if (const std::optional<QByteArray> data = convert(selection, atoms[i], deadline))
            targets.append({ name, *data });
    }
    // A format refused is answered; one still pending at the limit is lost.
    if (Clock::now() >= deadline)
        reading.complete = false;
    return reading;
}

} // namespace tessvale
