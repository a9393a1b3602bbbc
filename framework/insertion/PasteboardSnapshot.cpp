#include "insertion/PasteboardSnapshot.h"

namespace tessvale {

PasteboardSnapshot makePasteboardSnapshot(const QList<ClipboardItemContent>& items)
{
    PasteboardSnapshot snapshot;
    for (const auto& item : items) {
        PasteboardSnapshotItem kept;
        for (const auto& type : item.types) {
            if (type.data)
                kept.representations.append({ type.type, PasteboardSnapshotItem::Data { *type.data } });
            else if (type.string)
                kept.representations.append({ type.type, PasteboardSnapshotItem::String { *type.string } });
            else if (type.propertyList)
                kept.representations.append({ type.type, PasteboardSnapshotItem::PropertyList { *type.propertyList } });
        }
        snapshot.append(std::move(kept));
    }
    return snapshot;
}

QList<QList<ClipboardWriteEntry>> restoreEntries(const PasteboardSnapshot& snapshot)
{
    QList<QList<ClipboardWriteEntry>> items;
    for (const auto& item : snapshot) {
        QList<ClipboardWriteEntry> entries;
        for (const auto& [type, representation] : item.representations) {
            if (const auto* data = std::get_if<PasteboardSnapshotItem::Data>(&representation))
                entries.append({ type, QVariant(data->bytes) });
            else if (const auto* string = std::get_if<PasteboardSnapshotItem::String>(&representation))
                entries.append({ type, QVariant(string->text) });
            else
                entries.append({ type, std::get<PasteboardSnapshotItem::PropertyList>(representation).value });
        }
        items.append(std::move(entries));
    }
    return items;
}

} // namespace tessvale
