#pragma once

#include "platform/linux/BackendOnly.h"

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

#include <QByteArray>
#include <QList>
#include <QString>

#include "platform/insertion/Clipboard.h"
#include "platform/linux/insertion/SelectionTransfer.h"

namespace tessvale {

class X11Connection;

// CLIPBOARD and PRIMARY seen from a connection of our own, apart from Qt's: owner changes counted
// through XFixes as the server makes them, and a foreign owner's content read within a time limit
// (Qt's reads wait seconds for each format an owner leaves unanswered). One thread at a time; read()
// may run on a thread of its own, the rest on the main thread.
class X11Selections
{
public:
    struct Target
    {
        QString name;
        QByteArray data;
    };
    struct Reading
    {
        QList<Target> targets;
        // False when the owner left the list or a format unanswered by the time limit.
        bool complete = true;
    };

    // nullptr without an X server or its XFixes extension.
    static std::unique_ptr<X11Selections> open();
    ~X11Selections();
    X11Selections(const X11Selections&) = delete;
    X11Selections& operator=(const X11Selections&) = delete;

    // Owner changes so far, after a round trip: every change the server made before this call counts.
    quint64 ownerChanges(ClipboardSelection selection);
    // The selection's owner window now (0: none).
    unsigned long owner(ClipboardSelection selection);

    // Every target the owner lists, with its data, in the owner's order; the selection protocol's own
    // targets are left out. Returns by the time limit whatever the owner sends, with what was read by
    // then; a selection larger than maxSelectionBytes is not read whole. Sets no X11ErrorTrap, whose
    // handler is the process's: an atom an owner made up is an error for the application's handler,
    // which Qt's X11 support sets to ignore errors.
    Reading read(ClipboardSelection selection, std::chrono::milliseconds limit);

    // Asks the clipboard manager, when one runs, to save the clipboard before its owner goes; false
    // without a manager. The manager fetches the content from the owner, whose event loop must run
    // meanwhile: saveAnswered() waits at most wait for the answer.
    bool requestSave();
    bool saveAnswered(std::chrono::milliseconds wait);

private:
    enum class Answer {
        data,
        refused,
        // Out of time or too large: the owner may still be sending.
        unfinished,
    };
    struct Converted
    {
        Answer answer = Answer::refused;
        QByteArray data;
        int format = 0;
    };

    // What our property holds now.
    struct Piece
    {
        QByteArray bytes;
        unsigned long type = 0;
        int format = 0;
        // Left unread: more than may be kept, or the owner gave no more.
        bool moreLeft = false;
    };

    explicit X11Selections(std::unique_ptr<X11Connection> connection, int fixesEventBase);
    // Handles what the server sent so far, up to a bound, so a flood of events cannot hold us.
    void drainEvents();
    // Converts the selection to target into our property.
    Converted convert(unsigned long selection, unsigned long target, std::chrono::steady_clock::time_point deadline,
        qsizetype maxBytes);
    // Reads the property; nullopt when the read failed or the deadline passed first.
    std::optional<Piece> readPiece(qsizetype room, std::chrono::steady_clock::time_point deadline);
    bool waitForEvent(std::chrono::steady_clock::time_point deadline, const std::function<bool()>& arrived);
    // A new window for conversions: pieces an abandoned owner still sends go to the old one, which is gone.
    void renewRequestor();

    std::unique_ptr<X11Connection> m_connection;
    int m_fixesEventBase;
    // Watches the owner changes.
    unsigned long m_window = 0;
    // Receives what owners send.
    unsigned long m_requestor = 0;
    unsigned long m_property = 0;
    quint64 m_clipboardChanges = 0;
    quint64 m_primaryChanges = 0;
    // What the server last told the requestor window (a conversion's end, a property change).
    unsigned long m_awaitedTarget = 0;
    bool m_selectionNotified = false;
    unsigned long m_notifiedProperty = 0;
    bool m_propertyChanged = false;
};

} // namespace tessvale
