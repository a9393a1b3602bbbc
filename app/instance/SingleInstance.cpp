#include "instance/SingleInstance.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QStandardPaths>
#include <QThread>
#include <QTimer>

#include "base/Logging.h"

#ifdef Q_OS_LINUX
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace tessvale {

namespace {

constexpr qsizetype headerSize = instanceMessageHeaderSize;
// A client that connects and then says nothing is not waited for.
constexpr int messageTimeoutMs = 2000;

QString resolvedFolder(QString folder)
{
    if (folder.isEmpty())
        folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    return folder;
}

// The socket's permissions already keep other users out; the peer's credentials make sure of it.
bool peerIsSameUser(const QLocalSocket& socket)
{
#ifdef Q_OS_LINUX
    ucred credentials {};
    socklen_t length = sizeof credentials;
    if (getsockopt(int(socket.socketDescriptor()), SOL_SOCKET, SO_PEERCRED, &credentials, &length) != 0)
        return false;
    return credentials.uid == geteuid();
#else
    Q_UNUSED(socket);
    return true;
#endif
}

int remainingMs(const QDeadlineTimer& deadline)
{
    return int(qMax<qint64>(0, deadline.remainingTime()));
}

} // namespace

SingleInstance::SingleInstance(QString folder, QObject* parent)
    : QObject(parent)
    , m_folder(resolvedFolder(std::move(folder)))
    , m_lock(QDir(m_folder).filePath(QStringLiteral("tessvale.lock")))
{
}

SingleInstance::~SingleInstance()
{
    // The socket goes before the lock, so whoever takes the lock next finds no socket of ours.
    if (m_server)
        m_server->close();
}

QString SingleInstance::lockFilePath() const
{
    return QDir(m_folder).filePath(QStringLiteral("tessvale.lock"));
}

QString SingleInstance::socketPath() const
{
    return QDir(m_folder).filePath(QStringLiteral("tessvale.socket"));
}

QUrl SingleInstance::urlFromArguments(const QStringList& arguments)
{
    for (qsizetype index = 1; index < arguments.size(); ++index) {
        const QString& argument = arguments.at(index);
        if (argument.startsWith(QLatin1Char('-')))
            continue;
        QUrl url(argument, QUrl::StrictMode);
        if (url.isValid() && !url.scheme().isEmpty())
            return url;
    }
    return {};
}

SingleInstance::Role SingleInstance::claim(const QUrl& url, int timeoutMs)
{
    if (m_isInstance)
        return Role::instance;
    QDir().mkpath(m_folder);
    QFile::setPermissions(m_folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);

    const QDeadlineTimer deadline(timeoutMs);
    while (true) {
        const InstanceLock::Outcome locking = m_lock.tryLock();
        if (locking == InstanceLock::Outcome::held) {
            becomeInstance(url);
            return Role::instance;
        }
        if (locking == InstanceLock::Outcome::unusable) {
            // Without a usable lock there is no telling whether another instance runs; running is
            // better than never starting.
            qCWarning(lcApp).noquote() << "Could not take the single-instance lock:" << m_lock.failure()
                                       << "; running without one";
            m_isInstance = true;
            if (!url.isEmpty())
                QMetaObject::invokeMethod(
                    this, [this, url] { emit urlReceived(url); }, Qt::QueuedConnection);
            return Role::instance;
        }
        const qsizetype size = encodedInstanceMessage(url).size() - headerSize;
        if (size > maximumMessageSize) {
            // The instance would drop it, however often it were sent.
            qCWarning(lcApp) << "The URL is" << size << "bytes long, more than the" << maximumMessageSize
                             << "bytes a running Tessvale accepts";
            return Role::refused;
        }
        // A live process holds the lock. It may still be starting, or be about to quit: try again
        // until the deadline.
        switch (forward(url, remainingMs(deadline))) {
        case Delivery::delivered:
            return Role::forwarded;
        case Delivery::refused:
            return Role::failed;
        case Delivery::unreachable:
            break;
        }
        if (deadline.hasExpired()) {
            qCWarning(lcApp) << "The running Tessvale did not answer";
            return Role::failed;
        }
        QThread::msleep(50);
    }
}

void SingleInstance::becomeInstance(const QUrl& ownUrl)
{
    m_isInstance = true;
    // Only the lock holder gets here, so a socket file left now is a crashed instance's.
    QLocalServer::removeServer(socketPath());
    m_server = new QLocalServer(this);
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    connect(m_server, &QLocalServer::newConnection, this, &SingleInstance::acceptConnections);
    if (!m_server->listen(socketPath()))
        qCWarning(lcApp) << "Could not listen for later starts:" << m_server->errorString();
    if (!ownUrl.isEmpty())
        QMetaObject::invokeMethod(
            this, [this, ownUrl] { emit urlReceived(ownUrl); }, Qt::QueuedConnection);
}

SingleInstance::Delivery SingleInstance::forward(const QUrl& url, int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    QLocalSocket socket;
    socket.connectToServer(socketPath());
    if (!socket.waitForConnected(remainingMs(deadline)))
        return Delivery::unreachable;
    // A URL may carry a sign-in code: it goes to nobody but this user's own instance.
    if (!peerIsSameUser(socket)) {
        qCWarning(lcApp) << "The single-instance socket belongs to another user";
        return Delivery::refused;
    }
    socket.write(encodedInstanceMessage(url));
    if (!socket.waitForBytesWritten(remainingMs(deadline)))
        return Delivery::unreachable;
    while (socket.bytesAvailable() < 1) {
        if (!socket.waitForReadyRead(remainingMs(deadline)))
            return Delivery::unreachable;
    }
    char reply = 0;
    socket.getChar(&reply);
    return reply == instanceMessageAcknowledgement ? Delivery::delivered : Delivery::unreachable;
}

void SingleInstance::acceptConnections()
{
    while (QLocalSocket* socket = m_server->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        if (!peerIsSameUser(*socket)) {
            qCWarning(lcApp) << "Refused a connection from another user";
            socket->abort();
            socket->deleteLater();
            continue;
        }
        // Never buffer more than one message's worth of someone's input.
        socket->setReadBufferSize(headerSize + maximumMessageSize + 1);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] { readMessage(socket); });
        QTimer::singleShot(messageTimeoutMs, socket, [socket] { socket->abort(); });
        if (socket->bytesAvailable() > 0)
            readMessage(socket);
    }
}

void SingleInstance::readMessage(QLocalSocket* socket)
{
    if (socket->state() != QLocalSocket::ConnectedState || socket->bytesAvailable() < headerSize)
        return;
    // Never more than one message's worth: the read buffer is bounded.
    const InstanceMessageReading reading = readInstanceMessage(socket->peek(socket->bytesAvailable()));
    if (reading.status == InstanceMessageReading::Status::incomplete)
        return;
    if (reading.status != InstanceMessageReading::Status::complete) {
        logDropped(droppedReason(reading.status));
        socket->abort();
        socket->deleteLater();
        return;
    }
    socket->readAll();
    const QUrl& url = reading.url;
    socket->putChar(instanceMessageAcknowledgement);
    socket->disconnectFromServer();
    if (url.isEmpty())
        emit activationRequested();
    else
        emit urlReceived(url);
}

void SingleInstance::logDropped(const char* why)
{
    // Whoever floods the socket must not flood the log, nor slow the instance with it.
    if (!m_dropWindow.isValid() || m_dropWindow.hasExpired(droppedLogWindowMs)) {
        logDroppedUnlogged();
        m_dropWindow.start();
        m_droppedLogged = 0;
    }
    if (m_droppedLogged < droppedLinesPerWindow) {
        ++m_droppedLogged;
        qCWarning(lcApp) << "Dropped a message from another start:" << why;
        return;
    }
    if (m_droppedUnlogged++ == 0)
        QTimer::singleShot(int(qMax<qint64>(0, droppedLogWindowMs - m_dropWindow.elapsed())), this,
            &SingleInstance::logDroppedUnlogged);
}

void SingleInstance::logDroppedUnlogged()
{
    if (m_droppedUnlogged == 0)
        return;
    qCWarning(lcApp) << "Dropped" << m_droppedUnlogged << "more messages from other starts";
    m_droppedUnlogged = 0;
}

} // namespace tessvale
