#pragma once

#include "platform/linux/BackendOnly.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

namespace tessvale {

// What a selection owner hands over, decoded apart from the X calls that fetch it: an owner is any
// program on the display, so none of this trusts what it sends.

// The most one selection's snapshot keeps; an owner offering more is not read whole.
inline constexpr qsizetype maxSelectionBytes = 16 * 1024 * 1024;
// The most targets of one TARGETS answer that are looked at.
inline constexpr qsizetype maxSelectionTargets = 256;

// The atoms of a TARGETS answer: 32-bit items, each once, at most maxSelectionTargets; anything else
// (another format, a torn last item, the atom None) is left out.
QList<quint32> decodeTargetList(const QByteArray& bytes, int format);

// Whether a target name is a form of plain text.
bool isTextTarget(const QString& name);

// Whether a target name belongs to the selection protocol itself (TARGETS, MULTIPLE, TIMESTAMP, ...)
// or names a server resource (PIXMAP, ...) rather than content.
bool isSelectionProtocolTarget(const QString& name);

// One format a snapshot keeps: the listed targets to try in order (indices into the names), the
// first that answers giving the data, and the name it is kept under.
struct PlannedTarget
{
    QList<qsizetype> candidates;
    QString keptAs;
};

// What to fetch of a selection listing these targets, in its order: plain text once, in its best
// form, as "text/plain"; every other content target as itself; the protocol's own targets, empty
// names and repeats left out.
QList<PlannedTarget> planSnapshot(const QStringList& names);

// The data of a plain-text target as UTF-8 (STRING and TEXT are Latin-1).
QByteArray textAsUtf8(const QString& target, const QByteArray& data);

// One conversion's answer, piece by piece: the property the owner set first, then, when that was an
// incremental (INCR) announcement, each piece it sends until an empty one. Keeps at most maxBytes.
class SelectionTransfer
{
public:
    enum class State {
        // Waiting for the owner's next piece.
        receiving,
        done,
        // The owner offered more than maxBytes: the data is not whole.
        tooLarge,
    };

    explicit SelectionTransfer(qsizetype maxBytes = maxSelectionBytes);

    // The property as read: whether its type was INCR, its bytes, and whether more was left unread
    // beyond them (a property larger than was asked for).
    State receive(bool incremental, const QByteArray& bytes, bool moreLeft);

    State state() const { return m_state; }
    bool isIncremental() const { return m_incremental; }
    const QByteArray& data() const { return m_data; }
    // How many bytes the next read may take and still fit.
    qsizetype room() const { return m_maxBytes - m_data.size(); }

private:
    qsizetype m_maxBytes;
    State m_state = State::receiving;
    bool m_started = false;
    bool m_incremental = false;
    QByteArray m_data;
};

} // namespace tessvale
