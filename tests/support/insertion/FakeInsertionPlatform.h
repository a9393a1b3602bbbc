#pragma once

#include <functional>

#include <QList>
#include <QStringList>

#include "platform/insertion/Clipboard.h"
#include "platform/insertion/InputInjector.h"

namespace tessvale::testing {

// The two selections in memory. writeText marks the selection as ours until something else writes.
class FakeClipboard final : public Clipboard
{
public:
    struct SelectionState
    {
        QList<ClipboardItemContent> items;
        std::optional<QString> ourText;
        bool writeFails = false;
        // Its owner leaves formats unanswered: a read gets part or nothing.
        bool readIncomplete = false;
        QList<QList<ClipboardWriteEntry>> lastRestore;
        int restoreCount = 0;
        quint64 ownerChanges = 0;
    };

    SelectionState clipboard;
    SelectionState primary;
    std::function<void(const ClipboardFetch&)> observer;
    int pasteKeysNoted = 0;
    // Called after each read(), before it returns (a copy landing mid-snapshot).
    std::function<void(ClipboardSelection)> onRead;

    SelectionState& state(ClipboardSelection selection)
    {
        return selection == ClipboardSelection::clipboard ? clipboard : primary;
    }
    // Another application (or the user) copies text.
    void copyByUser(ClipboardSelection selection, const QString& text);
    // The target's paste fetches our text.
    void fetch(ClipboardSelection selection);
    // A request that is not the paste's (TARGETS, a clipboard manager's copy, one made before the key).
    void fetchOnItsOwn(ClipboardSelection selection, bool text);
    // The text now held, when it is plain text.
    std::optional<QString> text(ClipboardSelection selection);

    QCoro::Task<ClipboardReading> read(ClipboardSelection selection) override;
    PlatformResult writeText(ClipboardSelection selection, const QString& text) override;
    quint64 ownerChangeCount(ClipboardSelection selection) override { return state(selection).ownerChanges; }
    bool holdsOurText(ClipboardSelection selection) override { return state(selection).ourText.has_value(); }
    void restore(ClipboardSelection selection, const QList<QList<ClipboardWriteEntry>>& items) override;
    void notePasteKey() override { ++pasteKeysNoted; }
    void setFetchObserver(std::function<void(const ClipboardFetch&)> callback) override
    {
        observer = std::move(callback);
    }
};

ClipboardItemContent plainTextItem(const QString& text);

// Records what would have been pasted and typed.
class RecordingInputInjector final : public InputInjector
{
public:
    bool available = true;
    bool pasteWorks = true;
    bool typingWorks = true;
    // Returned by successive heldModifiers() calls; the last entry repeats.
    QList<QStringList> heldSequence;
    int heldQueries = 0;
    QStringList events; // "paste" and "type:<text>" (one per batch) in order
    std::function<void()> onPaste;
    // Code points per batch (0: the whole text in one); stillOnTarget is asked before each batch.
    qsizetype batchSize = 0;
    // When false, every key goes out but the target never confirms reading them.
    bool confirmsReading = true;
    // After this many code points typing fails (negative: never).
    qsizetype failAfter = -1;
    // Called after each typed batch with its index.
    std::function<void(int)> onBatch;
    // Where each batch's text lands (unset: nowhere that shows it).
    std::function<void(const QString&)> onTyped;

    bool isAvailable() override { return available; }
    QStringList heldModifiers() override;
    PlatformResult emitPasteShortcut() override;
    QCoro::Task<TypingOutcome> typeText(QString text, std::function<bool()> stillOnTarget, CancelToken token) override;
};

} // namespace tessvale::testing
