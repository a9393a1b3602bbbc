#include "support/insertion/FakeInsertionPlatform.h"

namespace tessvale::testing {

ClipboardItemContent plainTextItem(const QString& text)
{
    ClipboardTypeContent content;
    content.type = QStringLiteral("text/plain");
    content.data = text.toUtf8();
    return ClipboardItemContent { { content } };
}

void FakeClipboard::copyByUser(ClipboardSelection selection, const QString& text)
{
    state(selection).items = { plainTextItem(text) };
    state(selection).ourText.reset();
    ++state(selection).ownerChanges;
}

QCoro::Task<ClipboardReading> FakeClipboard::read(ClipboardSelection selection)
{
    const ClipboardReading held { state(selection).items, !state(selection).readIncomplete };
    if (onRead)
        onRead(selection);
    co_return held;
}

void FakeClipboard::fetch(ClipboardSelection selection)
{
    if (state(selection).ourText && observer)
        observer(ClipboardFetch { selection, true, true });
}

void FakeClipboard::fetchOnItsOwn(ClipboardSelection selection, bool text)
{
    if (state(selection).ourText && observer)
        observer(ClipboardFetch { selection, text, false });
}

std::optional<QString> FakeClipboard::text(ClipboardSelection selection)
{
    const auto& items = state(selection).items;
    if (items.isEmpty() || items.first().types.isEmpty() || !items.first().types.first().data)
        return std::nullopt;
    return QString::fromUtf8(*items.first().types.first().data);
}

PlatformResult FakeClipboard::writeText(ClipboardSelection selection, const QString& text)
{
    if (state(selection).writeFails)
        return PlatformResult::failed(QStringLiteral("the selection is set to refuse writes"));
    state(selection).items = { plainTextItem(text) };
    state(selection).ourText = text;
    ++state(selection).ownerChanges;
    return PlatformResult::ok();
}

void FakeClipboard::restore(ClipboardSelection selection, const QList<QList<ClipboardWriteEntry>>& items)
{
    SelectionState& s = state(selection);
    s.lastRestore = items;
    ++s.restoreCount;
    s.ourText.reset();
    ++s.ownerChanges;
    s.items.clear();
    for (const auto& entries : items) {
        ClipboardItemContent item;
        for (const auto& entry : entries) {
            ClipboardTypeContent content;
            content.type = entry.type;
            if (entry.value.typeId() == QMetaType::QByteArray)
                content.data = entry.value.toByteArray();
            else if (entry.value.typeId() == QMetaType::QString)
                content.string = entry.value.toString();
            else
                content.propertyList = entry.value;
            item.types.append(content);
        }
        s.items.append(item);
    }
}

QStringList RecordingInputInjector::heldModifiers()
{
    ++heldQueries;
    if (heldSequence.isEmpty())
        return {};
    if (heldSequence.size() == 1)
        return heldSequence.first();
    return heldSequence.takeFirst();
}

PlatformResult RecordingInputInjector::emitPasteShortcut()
{
    if (!pasteWorks)
        return PlatformResult::failed(QStringLiteral("the paste key is set to fail"));
    events << QStringLiteral("paste");
    if (onPaste)
        onPaste();
    return PlatformResult::ok();
}

QCoro::Task<TypingOutcome> RecordingInputInjector::typeText(
    QString text, std::function<bool()> stillOnTarget, CancelToken token)
{
    token.throwIfCancelled();
    if (!typingWorks)
        co_return TypingOutcome { TypingStatus::failed, 0 };
    const QList<uint> codePoints = text.toUcs4();
    const qsizetype step = batchSize > 0 ? batchSize : std::max<qsizetype>(codePoints.size(), 1);
    qsizetype typed = 0;
    if (codePoints.isEmpty())
        events << QStringLiteral("type:");
    for (int batch = 0; typed < codePoints.size(); ++batch) {
        if (stillOnTarget && !stillOnTarget())
            co_return TypingOutcome { TypingStatus::focusMoved, typed, typed };
        qsizetype end = std::min(typed + step, codePoints.size());
        const bool fails = failAfter >= 0 && end > failAfter;
        if (fails)
            end = failAfter;
        const QString batchText
            = QString::fromUcs4(reinterpret_cast<const char32_t*>(codePoints.constData() + typed), end - typed);
        events << QStringLiteral("type:") + batchText;
        if (onTyped)
            onTyped(batchText);
        typed = end;
        if (fails)
            co_return TypingOutcome { TypingStatus::failed, typed, typed };
        if (onBatch)
            onBatch(batch);
    }
    if (stillOnTarget && !stillOnTarget())
        co_return TypingOutcome { TypingStatus::focusMoved, typed, typed };
    co_return TypingOutcome { confirmsReading ? TypingStatus::complete : TypingStatus::unconfirmed, typed, typed };
}

} // namespace tessvale::testing
