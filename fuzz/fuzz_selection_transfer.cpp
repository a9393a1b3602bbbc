// Feeds arbitrary answers of a selection owner to the clipboard snapshot's decoding: a TARGETS list,
// then the pieces of one conversion. The plan keeps plain text once, only listed targets and no
// protocol target; a transfer never keeps more than its cap, and ends for good once done or too large.
//
// Input: [format][length, 2 bytes][TARGETS bytes], then pieces [flags][length, 2 bytes][bytes]...
// (flags bit 0: typed INCR, bit 1: more was left unread).

#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include <QByteArray>
#include <QSet>
#include <QStringList>

#include "platform/linux/insertion/SelectionTransfer.h"

using namespace tessvale;

namespace {

struct Reader
{
    const uint8_t* data;
    size_t size;
    size_t at = 0;

    bool has(size_t count) const { return size - at >= count; }
    uint8_t byte() { return data[at++]; }
    QByteArray bytes()
    {
        if (!has(2))
            return {};
        size_t length = size_t(data[at]) | size_t(data[at + 1]) << 8;
        at += 2;
        length = std::min(length, size - at);
        const QByteArray result(reinterpret_cast<const char*>(data + at), qsizetype(length));
        at += length;
        return result;
    }
};

// Names an owner may list, the protocol's and every form of text among them.
const char* const names[] = { "TARGETS", "MULTIPLE", "TIMESTAMP", "SAVE_TARGETS", "UTF8_STRING", "STRING", "TEXT",
    "text/plain", "text/plain;charset=utf-8", "COMPOUND_TEXT", "text/html", "image/png", "PIXMAP", "" };

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    Reader input { data, size };
    if (!input.has(1))
        return 0;
    const int format = input.byte();
    const QList<quint32> atoms = decodeTargetList(input.bytes(), format);
    if (atoms.size() > maxSelectionTargets || QSet<quint32>(atoms.begin(), atoms.end()).size() != atoms.size()
        || atoms.contains(0u) || (format != 32 && !atoms.isEmpty()))
        std::abort();

    QStringList listed;
    for (const quint32 atom : atoms)
        listed << QString::fromLatin1(names[atom % std::size(names)]);
    bool text = false;
    for (const PlannedTarget& planned : planSnapshot(listed)) {
        if (planned.candidates.isEmpty() || isSelectionProtocolTarget(planned.keptAs) || planned.keptAs.isEmpty())
            std::abort();
        for (const qsizetype candidate : planned.candidates)
            if (candidate < 0 || candidate >= listed.size())
                std::abort();
        if (planned.keptAs == QLatin1String("text/plain")) {
            if (text)
                std::abort();
            text = true;
        }
    }

    const qsizetype cap = 512;
    SelectionTransfer transfer(cap);
    SelectionTransfer::State state = SelectionTransfer::State::receiving;
    while (input.has(1)) {
        const uint8_t flags = input.byte();
        const SelectionTransfer::State before = state;
        state = transfer.receive(flags & 1, input.bytes(), flags & 2);
        if (transfer.data().size() > cap || transfer.room() < 0)
            std::abort();
        if (before != SelectionTransfer::State::receiving && state != before)
            std::abort();
        if (state == SelectionTransfer::State::tooLarge && !transfer.data().isEmpty())
            std::abort();
    }
    return 0;
}
