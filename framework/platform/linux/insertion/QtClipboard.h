#pragma once

#include "platform/linux/BackendOnly.h"

#include <chrono>
#include <functional>
#include <memory>

#include <QAbstractNativeEventFilter>
#include <QFuture>
#include <QList>
#include <QMimeData>
#include <QObject>
#include <QPointer>
#include <QThreadPool>

#include "platform/insertion/Clipboard.h"
#include "platform/linux/insertion/X11Selections.h"

namespace tessvale {

// The text we offer, telling us when another application fetches it (by its format).
class TrackingMimeData final : public QMimeData
{
    Q_OBJECT

public:
    explicit TrackingMimeData(std::function<void(const QString&)> onFetch);

protected:
    QVariant retrieveData(const QString& mimeType, QMetaType type) const override;

private:
    std::function<void(const QString&)> m_onFetch;
};

// CLIPBOARD and PRIMARY through QClipboard; needs a QGuiApplication and the main thread. Other
// applications fetch what we offer from our event loop, which must keep running. On X11 a connection
// of our own counts owner changes as they happen, another reads other owners within a time limit on
// a thread of its own (an owner that never stops sending cannot hold up the event loop), and each
// request for what we offer is seen, with its requestor, before Qt answers it.
class QtClipboard final : public QObject, public Clipboard, private QAbstractNativeEventFilter
{
    Q_OBJECT

public:
    // The most one selection's snapshot may take (a paste reads two: half a second in all); an owner
    // that leaves formats unanswered gets no more, and what was read by then is kept.
    static constexpr std::chrono::milliseconds snapshotTimeLimit { 250 };

    // The most the application's end waits for a clipboard manager to take what we own.
    static constexpr std::chrono::milliseconds handOverTimeLimit { 300 };

    explicit QtClipboard(QObject* parent = nullptr);
    ~QtClipboard() override;

    QCoro::Task<ClipboardReading> read(ClipboardSelection selection) override;
    PlatformResult writeText(ClipboardSelection selection, const QString& text) override;
    quint64 ownerChangeCount(ClipboardSelection selection) override;
    bool holdsOurText(ClipboardSelection selection) override;
    void restore(ClipboardSelection selection, const QList<QList<ClipboardWriteEntry>>& items) override;
    void notePasteKey() override;
    void setFetchObserver(std::function<void(const ClipboardFetch&)> observer) override;

private:
    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;
    void handOverAtExit();
    void notifyFetch(const ClipboardFetch& fetch);
    // Whether our own QClipboard serves the selection now (read it locally: asking the server would
    // wait for our own event loop).
    bool servedByUs(ClipboardSelection selection);
    // Reads another owner's selection on m_readerThread.
    QFuture<X11Selections::Reading> readElsewhere(ClipboardSelection selection);
    void noteOurOwnerChange(ClipboardSelection selection);

    std::unique_ptr<X11Selections> m_x11;
    // Used by m_readerThread only, one read at a time.
    std::unique_ptr<X11Selections> m_reader;
    QThreadPool m_readerThread;
    // Qt's own connection, whose requests and events the paste key is ordered against.
    void* m_xcb = nullptr;
    unsigned long m_clipboardAtom = 0;
    unsigned long m_multipleAtom = 0;
    QList<unsigned long> m_textAtoms;
    // Set by notePasteKey: the first request of Qt's connection after it, and the client whose window
    // had the keyboard focus then (0: unknown).
    bool m_pasteKeyNoted = false;
    quint32 m_pasteMark = 0;
    unsigned long m_pasteClient = 0;
    // Ids the X server hands to Qt's connection: windows of our own QClipboard among them.
    unsigned long m_qtResourceBase = 0;
    unsigned long m_qtResourceMask = 0;
    // The owner-change count right after our last write, per selection.
    quint64 m_changesAfterOurClipboardWrite = 0;
    quint64 m_changesAfterOurPrimaryWrite = 0;

    QPointer<QMimeData> m_offeredClipboard;
    QPointer<QMimeData> m_offeredPrimary;
    std::function<void(const ClipboardFetch&)> m_observer;
    quint64 m_clipboardOwnerChanges = 0;
    quint64 m_primaryOwnerChanges = 0;
};

} // namespace tessvale
