#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QStringList>
#include <QUrl>

#include "instance/InstanceLock.h"
#include "instance/InstanceMessage.h"

class QLocalServer;
class QLocalSocket;

namespace tessvale {

// One Tessvale per user session. The process that holds the lock file becomes the instance and
// listens on a local socket beside it; a later process hands its URL (or, launched without one, a
// bare activation) to the instance and exits. Both files live in the user's runtime folder, which
// only its owner may enter, and the socket additionally accepts only its owner's connections.
class SingleInstance : public QObject
{
    Q_OBJECT

public:
    enum class Role {
        // This process is the instance: it serves later starts.
        instance,
        // The running instance acknowledged this process's message; this process should exit.
        forwarded,
        // No instance could be reached, nor could this process become one, before the timeout.
        failed,
        // The URL is larger than a message may be: nothing was sent.
        refused,
    };

    static constexpr qsizetype maximumMessageSize = maximumInstanceMessageSize;
    // Dropped messages are logged one a line up to this many per window, then counted.
    static constexpr int droppedLinesPerWindow = 5;
    static constexpr int droppedLogWindowMs = 10000;

    // An empty folder means the user's runtime folder. Nothing happens before claim().
    explicit SingleInstance(QString folder = {}, QObject* parent = nullptr);
    ~SingleInstance() override;

    // Becomes the instance, or forwards url (empty: an activation) to the running one. The instance's
    // own url is emitted as urlReceived() once the event loop runs, like any forwarded one.
    Role claim(const QUrl& url = {}, int timeoutMs = 3000);

    bool isInstance() const { return m_isInstance; }
    QString lockFilePath() const;
    QString socketPath() const;

    // The first argument after the program name that is a URL with a scheme, else an empty URL.
    static QUrl urlFromArguments(const QStringList& arguments);

signals:
    void urlReceived(const QUrl& url);
    void activationRequested();

private:
    enum class Delivery { delivered, unreachable, refused };

    void becomeInstance(const QUrl& ownUrl);
    Delivery forward(const QUrl& url, int timeoutMs);
    void acceptConnections();
    void readMessage(QLocalSocket* socket);
    void logDropped(const char* why);
    void logDroppedUnlogged();

    QString m_folder;
    InstanceLock m_lock;
    QLocalServer* m_server = nullptr;
    bool m_isInstance = false;
    // Since the current logging window began.
    QElapsedTimer m_dropWindow;
    int m_droppedLogged = 0;
    int m_droppedUnlogged = 0;
};

} // namespace tessvale
