#pragma once

#include "platform/linux/BackendOnly.h"

#include <chrono>
#include <functional>
#include <memory>

#include <QMimeData>
#include <QObject>
#include <QPointer>

#include "platform/insertion/Clipboard.h"

namespace tessvale {

class X11Selections;

// The text we offer, telling us when another application fetches it.
class TrackingMimeData final : public QMimeData
{
    Q_OBJECT

public:
    TrackingMimeData(ClipboardSelection selection, std::function<void(ClipboardSelection)> onFetch);

protected:
    QVariant retrieveData(const QString& mimeType, QMetaType type) const override;

private:
    ClipboardSelection m_selection;
    std::function<void(ClipboardSelection)> m_onFetch;
};

// CLIPBOARD and PRIMARY through QClipboard; needs a QGuiApplication and the main thread. Other
// applications fetch what we offer from our event loop, which must keep running. On X11 a connection
// of our own counts owner changes as they happen and reads other owners within a time limit.
class QtClipboard final : public QObject, public Clipboard
{
    Q_OBJECT

public:
    // The most one selection's snapshot may block the main thread (a paste reads two: half a second in
    // all); an owner that leaves formats unanswered gets no more, and what was read by then is kept.
    static constexpr std::chrono::milliseconds snapshotTimeLimit { 250 };

    // The most the application's end waits for a clipboard manager to take what we own.
    static constexpr std::chrono::milliseconds handOverTimeLimit { 300 };

    explicit QtClipboard(QObject* parent = nullptr);
    ~QtClipboard() override;

    ClipboardReading read(ClipboardSelection selection) override;
    bool writeText(ClipboardSelection selection, const QString& text) override;
    quint64 ownerChangeCount(ClipboardSelection selection) override;
    bool holdsOurText(ClipboardSelection selection) override;
    void restore(ClipboardSelection selection, const QList<QList<ClipboardWriteEntry>>& items) override;
    void setFetchObserver(std::function<void(ClipboardSelection)> observer) override;

private:
    void handOverAtExit();
    void notifyFetch(ClipboardSelection selection);
    // Whether our own QClipboard serves the selection now (read it locally: asking the server would
    // wait for our own event loop).
    bool servedByUs(ClipboardSelection selection);
    void noteOurOwnerChange(ClipboardSelection selection);

    std::unique_ptr<X11Selections> m_x11;
    // Ids the X server hands to Qt's connection: windows of our own QClipboard among them.
    unsigned long m_qtResourceBase = 0;
    unsigned long m_qtResourceMask = 0;
    // The owner-change count right after our last write, per selection.
    quint64 m_changesAfterOurClipboardWrite = 0;
    quint64 m_changesAfterOurPrimaryWrite = 0;

    QPointer<QMimeData> m_offeredClipboard;
    QPointer<QMimeData> m_offeredPrimary;
    std::function<void(ClipboardSelection)> m_observer;
    quint64 m_clipboardOwnerChanges = 0;
    quint64 m_primaryOwnerChanges = 0;
};

} // namespace tessvale
