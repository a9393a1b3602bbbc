#pragma once

#include <map>
#include <memory>

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QObject>
#include <QString>

#include "HttpRequestReader.h"

class QTcpServer;
class QTcpSocket;

namespace tessvale::testing {

// One request as the ingest endpoint saw it.
struct IngestRequest
{
    QByteArray method;
    QByteArray path;
    QMap<QByteArray, QByteArray> headers; // names in lower case
    QByteArray body;
};

// A minimal HTTP/1.1 ingest endpoint on 127.0.0.1 that records every request and answers 200
// (or the status set with respondWith).
class LoopbackIngestServer : public QObject
{
    Q_OBJECT

public:
    explicit LoopbackIngestServer(QObject* parent = nullptr);
    ~LoopbackIngestServer() override;

    // port 0: any free port. Returns false when the port is taken.
    bool listen(quint16 port = 0);
    void close();
    quint16 port() const;

    void respondWith(int status) { m_status = status; }
    const QList<IngestRequest>& requests() const { return m_requests; }
    // Runs the event loop until count requests have arrived or the time is up.
    bool waitForRequests(int count, int timeoutMs = 60000);

signals:
    void requestReceived();

private:
    void onNewConnection();
    void onReadyRead(QTcpSocket* socket);

    QTcpServer* m_server;
    std::map<QTcpSocket*, std::unique_ptr<HttpRequestReader>> m_readers;
    QList<IngestRequest> m_requests;
    int m_status = 200;
};

// One item of an envelope.
struct EnvelopeItem
{
    QByteArray headerLine;
    QByteArray payload;
};

struct ParsedEnvelope
{
    bool valid = false;
    QString error;
    QByteArray headerLine;
    QList<EnvelopeItem> items;
};

// Reads an envelope strictly: a header line, then per item a header line with a "length" that must
// match the payload, each followed by a newline.
ParsedEnvelope parseEnvelope(const QByteArray& envelope);

} // namespace tessvale::testing
