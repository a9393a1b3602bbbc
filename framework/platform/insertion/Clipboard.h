#pragma once

#include <functional>
#include <optional>

#include <QByteArray>
#include <QList>
#include <QString>
#include <QVariant>

#include <qcoro/qcorotask.h>

#include "platform/PlatformResult.h"

namespace tessvale {

enum class ClipboardSelection {
    clipboard,
    primary,
};

// One type of one clipboard item, with every form in which the owner offers it.
struct ClipboardTypeContent
{
    QString type;
    std::optional<QByteArray> data;
    std::optional<QString> string;
    std::optional<QVariant> propertyList;
};

struct ClipboardItemContent
{
    QList<ClipboardTypeContent> types;
};

// What a selection held when read. Not complete when its owner left formats (or the list of them)
// unanswered in time: putting back what was read would lose the rest.
struct ClipboardReading
{
    QList<ClipboardItemContent> items;
    bool complete = true;
};

// One representation to write back for a type.
struct ClipboardWriteEntry
{
    QString type;
    QVariant value; // QByteArray for data, QString for a string, anything else a property list
};

// A request another application made for the text we offer.
struct ClipboardFetch
{
    ClipboardSelection selection = ClipboardSelection::clipboard;
    // For a form of plain text, not the list of formats, a timestamp or the like.
    bool text = false;
    // Made after the last notePasteKey() by the application that had the keyboard focus then, the
    // one the paste key goes to; not by another (a clipboard manager), nor before (a reaction to
    // the owner's change). Where the display cannot tell applications apart, every request made
    // after notePasteKey() counts.
    bool byPasteTarget = false;
};

// The system selections (CLIPBOARD and PRIMARY on X11). Used from the main thread only; the event
// loop must keep running while other applications fetch what we offer.
class Clipboard
{
public:
    virtual ~Clipboard() = default;

    // What the selection holds now; no items when it is empty or unowned. Another application's
    // selection is read while the event loop keeps running.
    virtual QCoro::Task<ClipboardReading> read(ClipboardSelection selection) = 0;

    // Offers text on the selection; fails, saying why, when the selection could not be taken.
    virtual PlatformResult writeText(ClipboardSelection selection, const QString& text) = 0;

    // How many times the selection's owner has changed so far, as the display server says now (not as
    // the event loop has seen it yet), so a copy landing between a snapshot and a write is noticed.
    virtual quint64 ownerChangeCount(ClipboardSelection selection) = 0;

    // Whether the selection still holds what our last writeText offered (nobody copied since).
    virtual bool holdsOurText(ClipboardSelection selection) = 0;

    // Puts items back (one item per entry list); an empty list leaves the selection empty.
    virtual void restore(ClipboardSelection selection, const QList<QList<ClipboardWriteEntry>>& items) = 0;

    // Called right before the paste key goes out (see ClipboardFetch::byPasteTarget).
    virtual void notePasteKey() = 0;

    // Called each time another application asks for what our last writeText offers.
    virtual void setFetchObserver(std::function<void(const ClipboardFetch&)> observer) = 0;
};

} // namespace tessvale
