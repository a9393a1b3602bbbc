#pragma once

#include <QSslConfiguration>
#include <QTcpServer>

namespace tessvale {

// A TCP server whose pending connections are QSslSockets already in the server handshake.
class FakeTlsServer : public QTcpServer
{
    Q_OBJECT

public:
    explicit FakeTlsServer(QSslConfiguration configuration, QObject* parent = nullptr);

protected:
    void incomingConnection(qintptr descriptor) override;

private:
    QSslConfiguration m_configuration;
};

} // namespace tessvale
