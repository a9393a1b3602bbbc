#pragma once

#include <variant>

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>
#include <QVariant>

#include "platform/insertion/Clipboard.h"

namespace tessvale {

// One clipboard item as it was before a paste.
struct PasteboardSnapshotItem
{
    struct Data
    {
        QByteArray bytes;
    };
    struct String
    {
        QString text;
    };
    struct PropertyList
    {
        QVariant value;
    };
    using Representation = std::variant<Data, String, PropertyList>;

    QList<QPair<QString, Representation>> representations;
};

using PasteboardSnapshot = QList<PasteboardSnapshotItem>;

// Keeps, per type, the item's data, else its string, else its property list; a type offering none is
// left out, but every item is kept.
PasteboardSnapshot makePasteboardSnapshot(const QList<ClipboardItemContent>& items);

// What restoring writes back, in snapshot order.
QList<QList<ClipboardWriteEntry>> restoreEntries(const PasteboardSnapshot& snapshot);

} // namespace tessvale
