#pragma once

#include <functional>

#include <QMimeData>
#include <QObject>
#include <QPointer>

#include "platform/insertion/Clipboard.h"

namespace tessvale {

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
// applications fetch what we offer from our event loop, which must keep running.
class QtClipboard final : public QObject, public Clipboard
{
    Q_OBJECT

public:
    explicit QtClipboard(QObject* parent = nullptr);

    QList<ClipboardItemContent> items(ClipboardSelection selection) override;
    bool writeText(ClipboardSelection selection, const QString& text) override;
    quint64 ownerChangeCount(ClipboardSelection selection) override;
    bool holdsOurText(ClipboardSelection selection) override;
    void restore(ClipboardSelection selection, const QList<QList<ClipboardWriteEntry>>& items) override;
    void setFetchObserver(std::function<void(ClipboardSelection)> observer) override;

private:
    void notifyFetch(ClipboardSelection selection);

    QPointer<QMimeData> m_offeredClipboard;
    QPointer<QMimeData> m_offeredPrimary;
    std::function<void(ClipboardSelection)> m_observer;
    quint64 m_clipboardOwnerChanges = 0;
    quint64 m_primaryOwnerChanges = 0;
};

} // namespace tessvale
