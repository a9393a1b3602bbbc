#include "FakeTlsServer.h"

#include <QSslSocket>

namespace tessvale {

FakeTlsServer::FakeTlsServer(QSslConfiguration configuration, QObject* parent)
    : QTcpServer(parent)
    , m_configuration(std::move(configuration))
{
}

void FakeTlsServer::incomingConnection(qintptr descriptor)
{
    auto* socket = new QSslSocket(this);
    if (!socket->setSocketDescriptor(descriptor)) {
        delete socket;
        return;
    }
    socket->setSslConfiguration(m_configuration);
    // A client that gives up on the certificate just goes away; nothing to report here.
    connect(socket, &QSslSocket::sslErrors, socket, [socket](const QList<QSslError>&) { socket->abort(); });
    socket->startServerEncryption();
    addPendingConnection(socket);
}

} // namespace tessvale
