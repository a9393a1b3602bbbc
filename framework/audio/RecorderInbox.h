#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <utility>

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>

namespace tessvale {

// What one recorder start hands over from the capture thread. The capture thread appends and posts
// one wake-up to the receiver; the main thread takes everything in order. Taking it synchronously at
// a stop puts every chunk delivered before stop() returned ahead of the leftovers, whatever is still
// queued in the event loop.
class RecorderInbox
{
public:
    using WakeHandler = std::function<void(const std::shared_ptr<RecorderInbox>&)>;

    RecorderInbox(QObject* receiver, WakeHandler onWake);

    struct Contents
    {
        QList<QByteArray> chunks;
        QList<float> levels;
        std::optional<std::pair<QString, QString>> ended;
    };

    void addChunk(const std::shared_ptr<RecorderInbox>& self, const QByteArray& chunk);
    void addLevel(const std::shared_ptr<RecorderInbox>& self, float level);
    void addEnd(const std::shared_ptr<RecorderInbox>& self, const QString& deviceName, const QString& reason);
    Contents take();
    // Nothing is posted after this returns.
    void detach();

private:
    void wakeLocked(const std::shared_ptr<RecorderInbox>& self);

    std::mutex m_mutex;
    QObject* m_receiver;
    WakeHandler m_onWake;
    Contents m_contents;
    bool m_wakePosted = false;
};

} // namespace tessvale
